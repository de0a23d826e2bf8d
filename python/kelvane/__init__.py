"""Kelvane's firmware loader for test stations written in Python.

Each call loads, verifies, clears, backs up or identifies one drive on one
serial port, exactly as the ``kelvane`` program does: the same bytes on the
wire, the same refusals, the same exit status. The work is done by the C
library libkelvane (``libkelvane.so.1``, ``kelvane.dll``) through ctypes; this
module needs nothing but the standard library::

    import kelvane

    result = kelvane.load("/dev/ttyUSB0", "fw.s", on_event=lambda e: print(e.text))
    print(result.verdict, result.serial)

How a run ends is its :class:`Result`: a refused file, a drive that does not
answer, a wrong drive or a mismatch are results, never exceptions. Misuse (an
unknown family, an argument of the wrong type or out of range) raises
``TypeError`` or ``ValueError`` before any port is opened.

A call holds no lock of the interpreter while it talks to the drive, so
several threads may load several drives at once; each run's events reach the
callback given to that run, so a station always knows which drive an event is
from. A :class:`Stop` stops the runs that hold it from any thread or from a
signal handler. An exception raised by the callback stops that run at its
next block or link attempt, the port given its settings back, and is then
raised from the call; so does Ctrl-C during a call on the main thread, raising
``KeyboardInterrupt`` once the run has ended.

A firmware file named by its path is read and checked afresh by each call; an
:class:`Image` is read and checked once and may then serve any number of
calls, on any threads, at once.

The library is looked for in the path that the environment variable
``KELVANE_LIBRARY`` names, then as ``libkelvane.so.1`` where the system's
loader finds it; on Windows as ``kelvane.dll`` beside this module, then in the
folder that holds it (as the Windows zip has it), then on ``PATH``.
"""

import ctypes
import ctypes.util
import dataclasses
import enum
import hashlib
import os
import re
import signal
import threading

__all__ = [
    "FAMILIES",
    "Event",
    "EventKind",
    "Image",
    "Port",
    "Result",
    "Stop",
    "backup",
    "clear",
    "identify",
    "load",
    "ports",
    "verify",
    "version",
]

FAMILIES = ("nym", "tl3xx", "27", "tk720", "tk720-digest")
"""The drive families, by the names drive-sim takes: Nym (kelvane without a
family option), TL3xx (/a), 27 series (/9), TK720 (/m), TK720 with digest (/s)."""

_LOAD, _VERIFY, _CLEAR_ALL, _CLEAR_PARAMETERS, _BACKUP, _IDENTIFY = range(6)
_FILE_REFUSED = 5  # the verdict of a file that was not loaded
_STAGE_FILE = 7
_PASSES = ("write", "verify", "digest", "read")


class EventKind(enum.StrEnum):
    """What an :class:`Event` reports, in the order the library numbers them."""

    PORT_OPENED = "port_opened"
    LINK_ATTEMPT_FAILED = "link_attempt_failed"
    IDENTITY = "identity"
    PASS_STARTED = "pass_started"
    BLOCK_DONE = "block_done"
    BLOCK_MISMATCH = "block_mismatch"
    PASS_FINISHED = "pass_finished"
    FAILURE = "failure"
    DEVICE_GONE = "device_gone"
    VERDICT = "verdict"


_KINDS = tuple(EventKind)
_PASS_KINDS = (EventKind.PASS_STARTED, EventKind.BLOCK_DONE, EventKind.PASS_FINISHED)


@dataclasses.dataclass(frozen=True)
class Event:
    """One thing that happened in a run, copied out of the library: it stays
    valid after the callback returns.

    ``text`` is one line for people, without line ends ("Sector 3 of 13
    written"). ``port`` is the port as the call named it, for every kind, so
    one callback may serve several drives. The other fields hold what the
    kind reports and are 0, "" or None otherwise: ``baud`` (port_opened);
    ``remaining`` (link_attempt_failed, counting down to 1); ``fields``, the
    identity's (key, shown value) pairs in order (identity); ``pass_``,
    "write", "verify", "digest" or "read", and ``total`` (pass_started,
    block_done, pass_finished); ``block``, counted from 0 (block_done,
    block_mismatch, failure); ``errors``, the differing bytes
    (block_mismatch); ``stage`` and ``code`` of a failure (failure); and
    ``verdict``, the journal's word (verdict)."""

    kind: EventKind
    text: str
    port: str
    baud: int = 0
    remaining: int = 0
    fields: tuple = ()
    pass_: str = ""
    block: int | None = None
    total: int = 0
    errors: int = 0
    stage: str = ""
    code: int | None = None
    verdict: str = ""


@dataclasses.dataclass(frozen=True)
class Result:
    """How a run ended.

    ``verdict`` is the journal's word for it ("verified", also for an
    identity shown and a backup saved; "mismatch", "failed", "no-link",
    "port-failed", "file-refused", "wrong-drive", "interrupted")
    and ``status`` kelvane's exit status for the run: 0 when the run reached
    its verdict (2 for a mismatch with ``strict``), 130 after a stop (1 on
    Windows), 1 for anything else. ``error`` is the failure's line as kelvane
    prints it, without line ends; for a refused file, the lines kelvane prints
    for it, joined by "\\n". ``stage``, ``block`` (from 0) and ``code`` say
    where and how a run failed ("", None and None when it did not).
    ``device`` is what was opened ("/dev/ttyS2"), ``model``, ``hardware`` and
    ``serial`` the drive's model, hardware revision and serial number as
    shown, ``file_sha256`` the firmware file's SHA-256 in 64 lower-case hex
    digits; each "" when the run has none."""

    verdict: str
    status: int
    error: str = ""
    device: str = ""
    model: str = ""
    hardware: str = ""
    serial: str = ""
    file_sha256: str = ""
    stage: str = ""
    block: int | None = None
    code: int | None = None


@dataclasses.dataclass(frozen=True)
class Port:
    """A serial port as ``kelvane /l`` lists it: ``name`` is what the calls
    of this module take as their port ("COM1", "/dev/ttyUSB0"), ``line`` the
    listing's whole line, with the device behind a link and the USB maker."""

    name: str
    line: str


# ---- The library's structs, as kelvane.h declares them -------------------


class _Field(ctypes.Structure):
    _fields_ = [("key", ctypes.c_char_p), ("value", ctypes.c_char_p)]


class _Event(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("kind", ctypes.c_int),
        ("text", ctypes.c_char_p),
        ("port", ctypes.c_char_p),
        ("baud", ctypes.c_int),
        ("remaining", ctypes.c_int),
        ("fields", ctypes.POINTER(_Field)),
        ("field_count", ctypes.c_size_t),
        ("pass_", ctypes.c_int),
        ("block", ctypes.c_int),
        ("total", ctypes.c_int),
        ("errors", ctypes.c_int),
        ("stage", ctypes.c_int),
        ("code", ctypes.c_int),
        ("verdict", ctypes.c_int),
    ]


_EventFn = ctypes.CFUNCTYPE(None, ctypes.POINTER(_Event), ctypes.c_void_p)


class _Model(ctypes.Structure):
    _fields_ = [("model_code", ctypes.c_char_p), ("hardware_revision", ctypes.c_char_p)]


class _Job(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("port", ctypes.c_char_p),
        ("baud", ctypes.c_int),
        ("attempts", ctypes.c_int),
        ("operation", ctypes.c_int),
        ("image", ctypes.c_void_p),
        ("family", ctypes.c_char_p),
        ("backup_path", ctypes.c_char_p),
        ("models", ctypes.POINTER(_Model)),
        ("model_count", ctypes.c_size_t),
        ("sha256", ctypes.c_char_p),
        ("strict", ctypes.c_int),
        ("on_event", _EventFn),
        ("user", ctypes.c_void_p),
        ("stop", ctypes.c_void_p),
    ]


class _Result(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("verdict", ctypes.c_int),
        ("verdict_text", ctypes.c_char_p),
        ("stage", ctypes.c_int),
        ("block", ctypes.c_int),
        ("code", ctypes.c_int),
        ("error", ctypes.c_char_p),
        ("device", ctypes.c_char_p),
        ("model", ctypes.c_char_p),
        ("hardware", ctypes.c_char_p),
        ("serial", ctypes.c_char_p),
        ("file_sha256", ctypes.c_char_p),
        ("internal", ctypes.c_void_p),
    ]


_PROTOTYPES = {
    "kelvane_api_version": (ctypes.c_int, []),
    "kelvane_version": (ctypes.c_char_p, []),
    "kelvane_prepare": (
        ctypes.c_void_p,
        [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t],
    ),
    "kelvane_image_free": (None, [ctypes.c_void_p]),
    "kelvane_stop_new": (ctypes.c_void_p, []),
    "kelvane_stop_request": (None, [ctypes.c_void_p]),
    "kelvane_stop_free": (None, [ctypes.c_void_p]),
    "kelvane_verdict_text": (ctypes.c_char_p, [ctypes.c_int]),
    "kelvane_stage_text": (ctypes.c_char_p, [ctypes.c_int]),
    "kelvane_run": (ctypes.c_int, [ctypes.POINTER(_Job), ctypes.POINTER(_Result)]),
    "kelvane_result_free": (None, [ctypes.POINTER(_Result)]),
    "kelvane_list_ports": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_size_t]),
}

_library = None
_library_lock = threading.Lock()


def _candidates():
    if os.environ.get("KELVANE_LIBRARY"):
        return [os.environ["KELVANE_LIBRARY"]]
    if os.name != "nt":
        return ["libkelvane.so.1"]
    here = os.path.dirname(os.path.abspath(__file__))
    # The Windows zip puts this folder beside kelvane.exe and kelvane.dll.
    # A bare name is not looked for on PATH since Python 3.8: find it there ourselves.
    return [
        os.path.join(here, "kelvane.dll"),
        os.path.join(os.path.dirname(here), "kelvane.dll"),
        ctypes.util.find_library("kelvane") or "kelvane.dll",
    ]


def _lib():
    global _library
    if _library is not None:  # no lock: a signal handler's Stop.request comes here
        return _library
    with _library_lock:
        if _library is None:
            tried = []
            for name in _candidates():
                try:
                    library = ctypes.CDLL(name)
                    break
                except OSError as error:
                    tried.append(str(error))
            else:
                raise OSError("libkelvane cannot be loaded: " + "; ".join(tried))
            for name, (restype, argtypes) in _PROTOTYPES.items():
                function = getattr(library, name)
                function.restype, function.argtypes = restype, argtypes
            if library.kelvane_api_version() < 1:
                raise OSError("libkelvane is older than this module")
            _library = library
        return _library


def _text(value):
    return value.decode("utf-8", "replace") if value else ""


def _verdict_text(verdict):
    return _text(_lib().kelvane_verdict_text(verdict))


def _encoded(value, what):
    """A str or path argument as the library takes it: UTF-8 (the file system's
    encoding where that is not UTF-8 on POSIX)."""
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{what} must be a str or a path, not {type(value).__name__}")
    value = os.fspath(value)
    if isinstance(value, bytes):
        return value
    return value.encode("utf-8") if os.name == "nt" else os.fsencode(value)


def _family(family):
    if not isinstance(family, str):
        raise TypeError(f"family must be a str, not {type(family).__name__}")
    if family not in FAMILIES:
        raise ValueError(f"family {family!r} is none of {', '.join(FAMILIES)}")
    return family


def _number(value, what, low, high):
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{what} must be {low} to {high}, not {value}")
    return value


_MODEL = re.compile(r"([\x20-\x7e]{3})(?:,([\x20-\x7e]{3}))?")
_SHA256 = re.compile(r"[0-9A-Fa-f]{16,64}")


def _models(models):
    """The drives a run may touch, as /w takes them: "770" or "770,C03", or a
    (model, revision) pair whose revision may be None."""
    if isinstance(models, (str, bytes)):
        raise TypeError("models must be a sequence of models, not one str")
    rows = []
    for model in models:
        if isinstance(model, tuple) and len(model) == 2:
            model = model[0] if model[1] is None else f"{model[0]},{model[1]}"
        if not isinstance(model, str):
            raise TypeError(f"a model must be a str or a pair, not {type(model).__name__}")
        match = _MODEL.fullmatch(model)
        if not match:
            raise ValueError(f"a model is three printable characters, then ',' and three "
                             f"more for a revision: {model!r}")
        rows.append(_Model(match[1].encode(), match[2].encode() if match[2] else None))
    return (_Model * len(rows))(*rows) if rows else None, len(rows)


class Stop:
    """A request to stop runs, shared by any number of them: :meth:`request`
    stops every run that holds it at the next block or link attempt, gives
    its port its settings back and ends it with the interrupted status, as
    Ctrl-C does for kelvane. A request holds for the runs that start after it
    too."""

    def __init__(self):
        self._requested = False
        self._tokens = set()
        # Reentrant: a signal handler runs on the main thread, which may hold it already.
        self._lock = threading.RLock()

    def request(self):
        """Stops the runs holding this Stop; safe from any thread and from a
        signal handler."""
        with self._lock:
            self._requested = True
            for token in self._tokens:
                _lib().kelvane_stop_request(token)

    @property
    def requested(self):
        """Whether :meth:`request` was called."""
        return self._requested

    def _hold(self, token):
        with self._lock:
            self._tokens.add(token)
            if self._requested:
                _lib().kelvane_stop_request(token)

    def _let_go(self, token):
        with self._lock:
            self._tokens.discard(token)


class Image:
    """A firmware file read and checked once for its family's drive, every
    check kelvane makes before it sends a block made. One Image may serve any
    number of runs, on any threads, at once.

    A refused file makes an Image too: its ``error`` holds the lines kelvane
    prints for it, joined by "\\n" ("" for a file that was taken), and a run
    given it ends with the verdict "file-refused", opening no port. A digest
    drive's image is stamped with the time it was made. ``family`` and
    ``path`` are those it was made from. :meth:`close` (or the end of a
    ``with`` block) gives the library's copy back once no run uses it.
    """

    def __init__(self, file, family="nym"):
        self.family = _family(family)
        self.path = os.fspath(file) if isinstance(file, os.PathLike) else file
        encoded = _encoded(file, "file")
        error = ctypes.create_string_buffer(16384)
        self._handle = _lib().kelvane_prepare(family.encode(), encoded, error, len(error))
        self.error = "" if self._handle else _text(error.value).rstrip("\n")
        self._users = 0
        self._closed = False
        self._lock = threading.Lock()

    def close(self):
        """Frees the image once the runs using it have ended; a run started
        after it raises ValueError."""
        with self._lock:
            self._closed = True
            self._free()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None) and _library is not None:
            _library.kelvane_image_free(self._handle)

    def _use(self):
        with self._lock:
            if self._closed:
                raise ValueError("the image is closed")
            self._users += 1

    def _done(self):
        with self._lock:
            self._users -= 1
            self._free()

    def _sha256(self):
        """The refused file's SHA-256, as a journal keeps it; "" when it cannot be read."""
        try:
            with open(self.path, "rb") as file:
                return hashlib.file_digest(file, "sha256").hexdigest()
        except (OSError, TypeError):
            return ""

    def _free(self):
        if self._closed and self._users == 0 and self._handle:
            _lib().kelvane_image_free(self._handle)
            self._handle = None


class _Events:
    """The run's callback: each event copied out into an Event for the
    caller's own. An exception there stops the run and is kept for the call
    to raise."""

    def __init__(self, port, on_event, token):
        self.port, self.on_event, self.token = port, on_event, token
        self.exception = None

    def __call__(self, pointer, user):
        if self.exception is not None:
            return
        try:
            if self.on_event is not None:
                event = pointer.contents
                if 0 <= event.kind < len(_KINDS):  # kinds of a later library are not passed on
                    self.on_event(self._copied(event))
        except BaseException as exception:  # the port gets its settings back all the same
            self.exception = exception
            _lib().kelvane_stop_request(self.token)

    def _copied(self, event):
        kind = _KINDS[event.kind]
        fields = [event.fields[i] for i in range(event.field_count)] if event.fields else []
        return Event(
            kind=kind,
            text=_text(event.text),
            port=self.port,
            baud=event.baud,
            remaining=event.remaining,
            fields=tuple((_text(f.key), _text(f.value)) for f in fields),
            pass_=_PASSES[event.pass_] if kind in _PASS_KINDS else "",
            block=None if event.block < 0 else event.block,
            total=event.total,
            errors=event.errors,
            stage=_text(_lib().kelvane_stage_text(event.stage)),
            code=None if event.code < 0 else event.code,
            verdict=_verdict_text(event.verdict) if kind is EventKind.VERDICT else "",
        )


class _CtrlC:
    """Ctrl-C during a run on the main thread, while Python's own handler has
    it: the run is stopped as kelvane stops, its port given its settings back,
    and KeyboardInterrupt raised once it has ended. The handler runs at the
    run's next event; raised there, the exception could escape the callback
    before it could be caught, and be lost."""

    def __init__(self, token):
        self.token, self.pressed, self.previous = token, False, None
        if (threading.current_thread() is threading.main_thread()
                and signal.getsignal(signal.SIGINT) is signal.default_int_handler):
            self.previous = signal.signal(signal.SIGINT, self._pressed)

    def _pressed(self, number, frame):
        self.pressed = True
        _lib().kelvane_stop_request(self.token)

    def restore(self):
        if self.previous is not None:
            signal.signal(signal.SIGINT, self.previous)


def _run(operation, port, family, *, image=None, backup_path=None, baud=38400, attempts=1000,
         on_event=None, models=(), sha256=None, stop=None, strict=False):
    lib = _lib()
    job = _Job(size=ctypes.sizeof(_Job), operation=operation, family=family.encode())
    job.port = _encoded(port, "port")
    job.baud = _number(baud, "baud", 1, 2**31 - 1)
    job.attempts = _number(attempts, "attempts", 1, 9999)
    if backup_path is not None:
        job.backup_path = _encoded(backup_path, "path")
    models_array, job.model_count = _models(models)
    job.models = models_array
    if sha256 is not None:
        if not isinstance(sha256, str) or not _SHA256.fullmatch(sha256):
            raise ValueError("sha256 must be 16 to 64 hex digits of the file's SHA-256")
        job.sha256 = sha256.encode()
    job.strict = bool(strict)
    if on_event is not None and not callable(on_event):
        raise TypeError("on_event must be callable")
    if stop is not None and not isinstance(stop, Stop):
        raise TypeError(f"stop must be a kelvane.Stop, not {type(stop).__name__}")
    if image is not None:
        image._use()
        if not image._handle:
            image._done()
            return Result(_verdict_text(_FILE_REFUSED), 1, image.error,
                          file_sha256=image._sha256(),
                          stage=_text(lib.kelvane_stage_text(_STAGE_FILE)))
        job.image = image._handle
    token = lib.kelvane_stop_new()
    events = _Events(os.fspath(port), on_event, token)
    # Always called, even without on_event: a signal handler on the main thread runs there.
    job.on_event = _EventFn(events)
    job.stop = token
    result = _Result(size=ctypes.sizeof(_Result))
    if stop is not None:
        stop._hold(token)
    ctrl_c = _CtrlC(token)
    try:
        status = lib.kelvane_run(ctypes.byref(job), ctypes.byref(result))
        if status == -1:
            raise ValueError("libkelvane refused the job as incomplete or unknown")
        outcome = Result(
            verdict=_text(result.verdict_text),
            status=status,
            error=_text(result.error),
            device=_text(result.device),
            model=_text(result.model),
            hardware=_text(result.hardware),
            serial=_text(result.serial),
            file_sha256=_text(result.file_sha256),
            stage=_text(lib.kelvane_stage_text(result.stage)),
            block=None if result.block < 0 else result.block,
            code=None if result.code < 0 else result.code,
        )
    finally:
        ctrl_c.restore()
        if stop is not None:
            stop._let_go(token)
        lib.kelvane_result_free(ctypes.byref(result))
        lib.kelvane_stop_free(token)
        if image is not None:
            image._done()
    if events.exception is not None:
        raise events.exception
    if ctrl_c.pressed:
        raise KeyboardInterrupt
    return outcome


def _image_run(operation, port, file, family, options):
    if isinstance(file, Image):
        # "nym" is also what a call that names no family gives.
        if family not in ("nym", file.family):
            raise ValueError(f"the image is for {file.family}, not {family}")
        return _run(operation, port, file.family, image=file, **options)
    with Image(file, family) as image:
        return _run(operation, port, image.family, image=image, **options)


def load(port, file, family="nym", baud=38400, attempts=1000, on_event=None, models=(),
         sha256=None, stop=None, strict=False):
    """Loads the firmware ``file`` into the drive on ``port`` and verifies it
    as its family does, as ``kelvane`` does; returns the run's :class:`Result`.

    ``port`` is "COM3" (COM1 to COM9 are /dev/ttyS0 to /dev/ttyS8 on Linux)
    or a device path. ``file`` is the path of a firmware file, read and
    checked for this run, or an :class:`Image`. ``family`` is one of
    :data:`FAMILIES`; an Image is for its own family, which a family other
    than the default "nym" must equal. ``baud`` is the line's rate, ``attempts`` the
    identify requests before the run gives up on a silent drive (1 to 9999,
    as /r). ``on_event`` is called with each :class:`Event`, on the calling
    thread. ``models`` are the only drives the run may touch, as /w takes
    them ("770" or "770,C03", or ("770", "C03")); none, any of the family.
    ``sha256`` is 16 to 64 hex digits the file's SHA-256 must begin with, as
    /f. ``stop`` is a :class:`Stop`. With ``strict`` a mismatch ends with
    status 2, as /e."""
    options = dict(baud=baud, attempts=attempts, on_event=on_event, models=models,
                   sha256=sha256, stop=stop, strict=strict)
    return _image_run(_LOAD, port, file, family, options)


def verify(port, file, family="nym", baud=38400, attempts=1000, on_event=None, models=(),
           sha256=None, stop=None, strict=False):
    """Compares the drive's flash with ``file`` without writing, as kelvane /v:
    the verdict is "verified" or "mismatch". Arguments as :func:`load`."""
    options = dict(baud=baud, attempts=attempts, on_event=on_event, models=models,
                   sha256=sha256, stop=stop, strict=strict)
    return _image_run(_VERIFY, port, file, family, options)


def clear(port, parameters=False, *, baud=38400, attempts=1000, on_event=None, models=(),
          stop=None):
    """Erases a Nym drive's whole flash (kelvane /d), or with ``parameters``
    only its parameters section (kelvane /p). Nym drives are the only ones
    cleared, so there is no family to give. Other arguments as :func:`load`."""
    operation = _CLEAR_PARAMETERS if parameters else _CLEAR_ALL
    return _run(operation, port, "nym", baud=baud, attempts=attempts, on_event=on_event,
                models=models, stop=stop)


def backup(port, path, family="nym", *, baud=38400, attempts=1000, on_event=None, models=(),
           stop=None):
    """Reads the firmware the drive holds into ``path``, in its family's own
    file format, as kelvane /u: loading that file puts the same firmware back.
    The file appears only once the backup is complete. A TK720 digest drive
    reads no blocks back, so ``family`` is any of :data:`FAMILIES` but
    "tk720-digest" (ValueError). Other arguments as :func:`load`."""
    if _family(family) == "tk720-digest":
        raise ValueError("a TK720 digest drive reads no blocks back: it cannot be backed up")
    return _run(_BACKUP, port, family, backup_path=path, baud=baud, attempts=attempts,
                on_event=on_event, models=models, stop=stop)


def identify(port, family="nym", *, baud=38400, attempts=1000, on_event=None, models=(),
             stop=None):
    """Makes the link as a run makes it and reports the drive's identity, as
    kelvane /i: the Result's ``model``, ``hardware`` and ``serial``, and every
    field in the identity :class:`Event`. Nothing is read or written.
    Arguments as :func:`load`."""
    return _run(_IDENTIFY, port, _family(family), baud=baud, attempts=attempts,
                on_event=on_event, models=models, stop=stop)


def ports():
    """The serial ports this machine has, as ``kelvane /l`` lists them: a list
    of :class:`Port`, empty when there are none. OSError when they cannot be
    listed."""
    size = 4096
    while True:
        buffer = ctypes.create_string_buffer(size)
        count = _lib().kelvane_list_ports(buffer, size)
        if count < 0:
            raise OSError("the serial ports cannot be listed")
        lines = _text(buffer.value).splitlines()
        if len(lines) >= count:
            break
        size *= 4
    listed = []
    for line in lines[:count]:
        argument = line.split()[0][2:]  # the /c argument that opens the port
        listed.append(Port("COM" + argument if argument.isdigit() else argument, line.strip()))
    return listed


def version():
    """The program's version, as kelvane's banner shows it ("2.03")."""
    return _text(_lib().kelvane_version())
