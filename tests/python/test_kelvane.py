"""The Python module over libkelvane against drive-sim on pseudo-terminals: a station's runs,
their results and events, and the drive's flash afterwards."""
import hashlib, os, pathlib, re, subprocess, sys, tempfile, threading, unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))
import kelvane  # noqa: E402

EXAMPLES, GOLDEN = ROOT / "examples", ROOT / "tests/e2e/golden"
NYM = EXAMPLES / "nym_sample.s"
# Each family's sample, the image its drive holds afterwards and where, its blocks, flash size.
SAMPLES = {"nym": ("nym_sample.s", "nym_sample.stream", 0x2000, 13, 0x40800),
           "tl3xx": ("tl3xx_sample.s", "tl3xx_sample.image", 0, 23, 0x10200),
           "27": ("series27_sample.s", "series27_sample.image", 0, 19, 0x20000),
           "tk720": ("tk720_sample.bin", "tk720_sample.image", 0x4000, 12, 0x200000),
           "tk720-digest": ("tk720_digest_sample.bin", "tk720_digest_sample.image", 0x8000, 12,
                            0x200000)}


def loaded(family, flash=None):
    """The flash of a drive that holds the family's sample (a digest drive's time stamp taken
    from `flash`, as no file foresees it)."""
    _, golden, at, _, size = SAMPLES[family]
    expected, image = bytearray(b"\xff" * size), (GOLDEN / golden).read_bytes()
    expected[at:at + len(image)] = image
    if family == "27":  # the checksum sector its boot code reads
        checksum = (GOLDEN / "series27_sample.checksum").read_bytes()
        expected[0x1DF00:0x1DF00 + len(checksum)] = checksum
    if family == "tk720-digest" and flash:
        expected[at + 16:at + 20] = flash[at + 16:at + 20]
    return bytes(expected)


class Drive:
    """A drive-sim of the test's own; stop() gives the flash it saved."""

    def __init__(self, folder, family="nym", *arguments):
        self.flash = os.path.join(folder, f"{id(self)}.flash")
        self.sim = subprocess.Popen([os.environ["DRIVE_SIM_BIN"], "--family", family,
                                     "--flash-out", self.flash, *arguments],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = self.sim.stdout.readline().strip()

    def stop(self, kill=False):
        if self.sim.poll() is None:
            (self.sim.kill if kill else self.sim.terminate)()
            self.sim.wait(10)
            self.sim.stdout.close()
        return None if kill else pathlib.Path(self.flash).read_bytes()


class Runs(unittest.TestCase):
    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory())

    def drive(self, family="nym", *arguments):
        drive = Drive(self.folder, family, *arguments)
        self.addCleanup(drive.stop, True)
        return drive

    def test_loads_every_family(self):
        for family, (sample, _, _, blocks, _) in SAMPLES.items():
            with self.subTest(family):
                drive, events = self.drive(family), []
                result = kelvane.load(drive.port, EXAMPLES / sample, family, on_event=events.append)
                sha256 = hashlib.sha256((EXAMPLES / sample).read_bytes()).hexdigest()
                self.assertEqual((result.verdict, result.status, result.device, result.file_sha256),
                                 ("verified", 0, drive.port, sha256))
                written = [e.block for e in events if e.kind == "block_done" and e.pass_ == "write"]
                self.assertEqual(written, list(range(blocks)))
                flash = drive.stop()
                self.assertEqual(flash, loaded(family, flash))

    def test_verdicts(self):
        bad = pathlib.Path(self.folder, "bad.s")
        bad.write_text("S20800001001020305DD\n")
        where = {"file-refused": ("file", None, None), "wrong-drive": ("identity", None, None),
                 "no-link": ("link", None, None), "failed": ("write", 0, 5)}  # stage, block, code
        rows = [  # drive-sim's options, the call, its verdict, status and error
            ([], lambda p: kelvane.verify(p, NYM), "mismatch", 0, ""),
            ([], lambda p: kelvane.verify(p, kelvane.Image(NYM), strict=True), "mismatch", 2, ""),
            ([], lambda p: kelvane.load(p, bad), "file-refused", 1,
             "Error (file:1) : record checksum is DD where its bytes give DC\nLine 1 does not hold "
             "the bytes its checksum was made for: the file was damaged or changed by hand, or it "
             "is the backup of a drive that holds such a record"),
            ([], lambda p: kelvane.load(p, NYM, models=(("771", None), "770,C04")), "wrong-drive",
             1, "The drive is model 770, hardware revision C03; /w allows only 771, 770 revision "
             "C04"),
            (["--silent"], lambda p: kelvane.load(p, NYM, attempts=1), "no-link", 1,
             "Failed to establish connection with selected device"),
            (["--write-status", "1:5"], lambda p: kelvane.load(p, NYM), "failed", 1,
             "FLASH update failed on sector 0 : error code 5"),
            ([], lambda p: kelvane.clear(p, parameters=True), "verified", 0, ""),
        ]
        for arguments, call, verdict, status, error in rows:
            with self.subTest(error or verdict):
                drive = self.drive("nym", *arguments)
                result = call(drive.port)
                self.assertEqual((result.verdict, result.status, result.error, result.stage,
                                  result.block, result.code),
                                 (verdict, status, error) + where.get(verdict, ("", None, None)))
                if verdict == "file-refused":  # its SHA-256 all the same, for the records
                    self.assertEqual(result.file_sha256,
                                     hashlib.sha256(bad.read_bytes()).hexdigest())
                if status == 1 and arguments == []:  # refused before any block was written
                    self.assertEqual(drive.stop(), b"\xff" * 0x40800)

    def test_backup_then_restore(self):
        for family in ("nym", "tl3xx", "27", "tk720"):
            with self.subTest(family):
                holding = os.path.join(self.folder, family + ".in")
                pathlib.Path(holding).write_bytes(loaded(family))
                saved = os.path.join(self.folder, "old." + family)
                result = kelvane.backup(self.drive(family, "--flash-in", holding).port, saved,
                                        family)
                self.assertEqual((result.verdict, result.status), ("verified", 0))
                drive = self.drive(family)
                self.assertEqual(kelvane.load(drive.port, saved, family).status, 0)
                self.assertEqual(drive.stop(), loaded(family))

    def test_identify(self):
        for family, shown in {"nym": ("770", "C03", "770123"), "27": ("27S", "D01", "270789"),
                              "tl3xx": ("310", "B01", "310456")}.items():
            with self.subTest(family):
                drive, events = self.drive(family), []
                result = kelvane.identify(drive.port, family, on_event=events.append)
                self.assertEqual((result.verdict, result.model, result.hardware, result.serial),
                                 ("verified",) + shown)
                self.assertEqual(events[0].text, "Port " + drive.port + " opened at 38400 baud")
                fields = dict(next(e.fields for e in events if e.kind == "identity"))
                self.assertEqual(fields["model_code"], shown[0])

    def test_eight_threads_eight_drives(self):
        drives, image, results = [self.drive() for _ in range(8)], kelvane.Image(NYM), {}

        def run(drive):  # the drive's events, then its result
            events = results[drive.port] = []
            events.append(kelvane.load(drive.port, image, on_event=events.append))
        threads = [threading.Thread(target=run, args=(d,)) for d in drives]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for drive in drives:
            *events, result = results[drive.port]
            self.assertEqual((result.verdict, result.device), ("verified", drive.port))
            # Each callback heard its own drive's run, and all of it.
            self.assertEqual(events[0].text, "Port " + drive.port + " opened at 38400 baud")
            self.assertEqual(len([e for e in events if e.kind == "block_done"]), 26)
            self.assertEqual(drive.stop(), loaded("nym"))

    def test_stopped_mid_load(self):
        def from_another_thread(event):
            if event.kind == "block_done" and event.block == 2:
                threading.Thread(target=stop.request).start()

        def raising(event):
            if event.kind == "block_done" and event.block == 2:
                raise KeyboardInterrupt
        stop = kelvane.Stop()
        for on_event in (from_another_thread, raising):
            with self.subTest(on_event.__name__):
                drive = self.drive("nym", "--pace")
                if on_event is raising:
                    self.assertRaises(KeyboardInterrupt, kelvane.load, drive.port, NYM,
                                      on_event=on_event)
                else:
                    result = kelvane.load(drive.port, NYM, on_event=on_event, stop=stop)
                    self.assertEqual((result.verdict, result.status), ("interrupted", 130))
                last = 0x2000 + 12 * 256  # the last sector, never written
                self.assertNotEqual(drive.stop()[last:], loaded("nym")[last:])

    def test_misuse_raises(self):
        with kelvane.Image(NYM) as closed:
            pass
        rows = [(ValueError, kelvane.load, ("/dev/null", NYM, "nym2")),
                (TypeError, kelvane.load, (3, NYM)),
                (TypeError, kelvane.verify, ("/dev/null", None)),
                (ValueError, kelvane.identify, ("/dev/null",), {"models": ["77"]}),
                (ValueError, kelvane.load, ("/dev/null", NYM), {"attempts": 0}),
                (ValueError, kelvane.clear, ("/dev/null",), {"baud": 0}),
                (ValueError, kelvane.load, ("/dev/null", NYM), {"sha256": "0123456789abcdeg"}),
                (ValueError, kelvane.backup, ("/dev/null", "b.bin", "tk720-digest")),
                (ValueError, kelvane.load, ("/dev/null", kelvane.Image(NYM), "27")),
                (ValueError, kelvane.verify, ("/dev/null", closed))]
        for error, call, arguments, *keywords in rows:
            self.assertRaises(error, call, *arguments, **(keywords[0] if keywords else {}))

    def test_readme_example_as_written(self):
        readme = (ROOT / "README.md").read_text()
        code = re.search(r"### Python\n.*?```python\n(.*?)```", readme, re.S)[1]
        drives = [self.drive(), self.drive()]
        run = subprocess.run([sys.executable, "-c", code, str(NYM)] + [d.port for d in drives],
                             capture_output=True, text=True, cwd=self.folder, timeout=120,
                             env=dict(os.environ, PYTHONPATH=str(ROOT / "python")))
        self.assertEqual(run.returncode, 0, run.stderr)
        for drive in drives:
            self.assertIn(f"{drive.port}: verified, serial 770123\n", run.stdout)
            self.assertEqual(drive.stop(), loaded("nym"))

    def test_ports_as_listed(self):
        sysfs = pathlib.Path(self.folder)
        for folder in ("sys/class/tty/ttyS0/device", "sys/class/tty/ttyS1/device", "dev"):
            (sysfs / folder).mkdir(parents=True)
        for port, uart in (("ttyS0", "4"), ("ttyS1", "0")):  # ttyS1: no UART behind it
            (sysfs / "sys/class/tty" / port / "type").write_text(uart + "\n")
        os.environ["KELVANE_SYSFS_ROOT"] = self.folder
        self.addCleanup(os.environ.pop, "KELVANE_SYSFS_ROOT")
        self.assertEqual(kelvane.ports(), [kelvane.Port("COM1", "/c1              /dev/ttyS0")])
        os.environ["KELVANE_SYSFS_ROOT"] = os.path.join(self.folder, "none")
        self.assertEqual(kelvane.ports(), [])


if __name__ == "__main__":
    unittest.main()
