/* kelvane.h: Kelvane's firmware loader as a C library, for test stations
 * written in other languages (Python's ctypes, LabVIEW's Call Library
 * Function, C#'s P/Invoke) and in C or C++.
 *
 * One run loads, verifies, clears, backs up or identifies one drive on one
 * serial port, exactly as `kelvane` does: the same bytes on the wire, the same
 * refusals and the same exit status. The library keeps no state between calls
 * and prints nothing: what happens in a run reaches the caller as events,
 * passed by value to a callback with the caller's own pointer, so a station
 * running eight drives on eight threads always knows which drive an event is
 * from. Runs on different ports may go on at once on different threads; one
 * prepared image may serve all of them.
 *
 * Every struct the caller fills in or reads starts with its own size, so a
 * later version of the library can grow it: set `size` to sizeof the struct
 * as this header declares it before passing it in. Strings are UTF-8, owned by
 * the library, and valid only for the call (events) or until the next run
 * with the same result struct (results) unless said otherwise. */
#ifndef KELVANE_H
#define KELVANE_H

#include <stddef.h>

#if defined(_WIN32)
#if defined(KELVANE_BUILDING_LIBRARY)
#define KELVANE_API __declspec(dllexport)
#else
#define KELVANE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KELVANE_API __attribute__((visibility("default")))
#else
#define KELVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface: it grows when a function or a field is
 * added, and a struct's `size` tells which fields a caller knows. */
#define KELVANE_API_VERSION 1

KELVANE_API int kelvane_api_version(void);
/* The program version, as `kelvane`'s banner shows it ("2.03"). */
KELVANE_API const char* kelvane_version(void);

/* ---- Images ----------------------------------------------------------- */

/* A firmware file read, checked and made into the image its family's drive is
 * sent, once. Read-only once made: any number of runs, on any threads, may
 * use it at once. */
typedef struct kelvane_image kelvane_image;

/* Reads `path` for `family`: "nym", "tl3xx", "27", "tk720" or "tk720-digest"
 * (the names drive-sim takes). Every check `kelvane` makes before it sends a
 * block is made here. NULL when the file is refused or cannot be read; then
 * `error` (when not NULL) holds, cut to `error_size` bytes with its closing
 * NUL, the lines `kelvane` prints for that file, each ended by "\n" alone
 * (what stdout says first, then what stderr adds). NULL with an error naming
 * the family when `family` is none of the five. A digest drive's image is
 * stamped with the time it was prepared. */
KELVANE_API kelvane_image* kelvane_prepare(const char* family, const char* path, char* error,
                                           size_t error_size);
KELVANE_API void kelvane_image_free(kelvane_image* image);

/* ---- Stopping a run --------------------------------------------------- */

/* A stop token: a request made on it stops every run that holds it at the
 * next block or link attempt, gives the port its settings back, and ends the
 * run with the interrupted status, as Ctrl-C does for `kelvane`. */
typedef struct kelvane_stop kelvane_stop;

KELVANE_API kelvane_stop* kelvane_stop_new(void);
/* Safe from any thread and from a signal handler (it only sets a flag). */
KELVANE_API void kelvane_stop_request(kelvane_stop* stop);
KELVANE_API void kelvane_stop_free(kelvane_stop* stop);

/* ---- What a run reports ----------------------------------------------- */

/* How a run ended, in the journal's words (kelvane_verdict_text): "verified"
 * also for an identity shown and a backup saved. */
typedef enum kelvane_verdict {
  KELVANE_VERIFIED = 0,
  KELVANE_MISMATCH = 1,
  KELVANE_FAILED = 2,
  KELVANE_NO_LINK = 3,
  KELVANE_PORT_FAILED = 4,
  KELVANE_FILE_REFUSED = 5,
  KELVANE_WRONG_DRIVE = 6,
  KELVANE_INTERRUPTED = 7
} kelvane_verdict;

/* Where a run failed, in the journal's words (kelvane_stage_text). */
typedef enum kelvane_stage {
  KELVANE_STAGE_NONE = 0, /* the run did not fail */
  KELVANE_STAGE_WRITE = 1,
  KELVANE_STAGE_READ = 2,
  KELVANE_STAGE_CHECKSUM_SECTOR = 3,
  KELVANE_STAGE_DIGEST = 4,
  KELVANE_STAGE_LINK = 5,
  KELVANE_STAGE_PORT = 6,
  KELVANE_STAGE_FILE = 7,
  KELVANE_STAGE_IDENTITY = 8
} kelvane_stage;

/* A procedure's passes: blocks written, read back and compared, the drive
 * asked for its digest, blocks read out into a backup. */
typedef enum kelvane_pass {
  KELVANE_PASS_WRITE = 0,
  KELVANE_PASS_VERIFY = 1,
  KELVANE_PASS_DIGEST = 2,
  KELVANE_PASS_READ = 3
} kelvane_pass;

/* "verified", "mismatch", ...; "" for a value outside the enum. */
KELVANE_API const char* kelvane_verdict_text(kelvane_verdict verdict);
/* "write", "read", "checksum-sector", ...; "" for KELVANE_STAGE_NONE. */
KELVANE_API const char* kelvane_stage_text(kelvane_stage stage);

typedef enum kelvane_event_kind {
  KELVANE_EVENT_PORT_OPENED = 0,         /* port, baud */
  KELVANE_EVENT_LINK_ATTEMPT_FAILED = 1, /* remaining: counts down to 1 */
  KELVANE_EVENT_IDENTITY = 2,            /* fields, field_count */
  KELVANE_EVENT_PASS_STARTED = 3,        /* pass, total */
  KELVANE_EVENT_BLOCK_DONE = 4,          /* pass, block (from 0), total */
  KELVANE_EVENT_BLOCK_MISMATCH = 5,      /* block, errors: the differing bytes */
  KELVANE_EVENT_PASS_FINISHED = 6,       /* pass */
  KELVANE_EVENT_FAILURE = 7,             /* stage, block, code */
  KELVANE_EVENT_DEVICE_GONE = 8,         /* the device went away (unplugged) */
  KELVANE_EVENT_VERDICT = 9              /* verdict */
} kelvane_event_kind;

/* One field of the drive's identity: its key as the journal names it
 * ("model_code", "serial_number", ...) and its value as kelvane shows it. */
typedef struct kelvane_field {
  const char* key;
  const char* value;
} kelvane_field;

/* One event, valid only during the callback. Fields that the kind does not
 * use are 0, or -1 for `block` and `code`. */
typedef struct kelvane_event {
  size_t size;
  kelvane_event_kind kind;
  /* One line for people, without line ends, e.g. "Sector 3 of 13 written". */
  const char* text;
  const char* port;
  int baud;
  int remaining;
  const kelvane_field* fields;
  size_t field_count;
  kelvane_pass pass;
  int block; /* counted from 0; -1 when none */
  int total;
  int errors;
  kelvane_stage stage;
  /* The failed exchange's number as kelvane's messages show it (the drive's
   * status byte, or 1, 16, 18 for the loader's own outcomes); -1 when none. */
  int code;
  kelvane_verdict verdict;
} kelvane_event;

typedef void (*kelvane_event_fn)(const kelvane_event* event, void* user);

/* ---- A run ------------------------------------------------------------ */

typedef enum kelvane_operation {
  KELVANE_LOAD = 0,             /* write the image, then verify as its family does */
  KELVANE_VERIFY = 1,           /* compare only (kelvane /v) */
  KELVANE_CLEAR_ALL = 2,        /* Nym: erase the whole flash (kelvane /d) */
  KELVANE_CLEAR_PARAMETERS = 3, /* Nym: erase the parameters section (kelvane /p) */
  KELVANE_BACKUP = 4,           /* read the firmware out into backup_path (kelvane /u) */
  KELVANE_IDENTIFY = 5          /* make the link, report the identity (kelvane /i) */
} kelvane_operation;

/* A drive /w lets a run touch: a three-character model code and, when not
 * NULL, a three-character hardware revision. */
typedef struct kelvane_model {
  const char* model_code;
  const char* hardware_revision;
} kelvane_model;

typedef struct kelvane_job {
  size_t size;
  /* "COM3" (COMn, as on Windows; /dev/ttySn-1 elsewhere) or a device path. */
  const char* port;
  int baud;     /* 0: 38400 */
  int attempts; /* identify requests before giving up; 0: 1000 */
  kelvane_operation operation;
  /* For load and verify; its family is the run's. */
  const kelvane_image* image;
  /* For clear, backup and identify, which take no image: the family's name as
   * kelvane_prepare takes it. When an image is given too, it must name the
   * image's family or be NULL. */
  const char* family;
  const char* backup_path;
  /* kelvane /w: the only drives the run may touch; none, any of the family. */
  const kelvane_model* models;
  size_t model_count;
  /* kelvane /f: 16 to 64 hex digits the file's SHA-256 must begin with, or
   * NULL. */
  const char* sha256;
  /* kelvane /e: a mismatch ends with status 2 rather than 0. */
  int strict;
  kelvane_event_fn on_event; /* may be NULL */
  void* user;
  const kelvane_stop* stop; /* may be NULL */
} kelvane_job;

typedef struct kelvane_result {
  size_t size;
  kelvane_verdict verdict;
  const char* verdict_text;
  /* The failure, when there was one: stage NONE, block and code -1 otherwise;
   * `error` is its line as kelvane prints it, without line ends, then what
   * stderr adds after ": " (why a port did not open); "" when none. */
  kelvane_stage stage;
  int block;
  int code;
  const char* error;
  /* What was opened, as the system names it ("/dev/ttyS2"); "" when none. */
  const char* device;
  /* The drive's model, hardware revision and serial number as shown; "" when
   * the drive did not answer or shows none. */
  const char* model;
  const char* hardware;
  const char* serial;
  /* The SHA-256 of the firmware file, 64 lower-case hex digits; "" for a run
   * that sends no file. */
  const char* file_sha256;
  /* Owned by the library; freed by kelvane_result_free. NULL in a result
   * not yet run with: zero the whole struct before setting `size`. */
  void* internal;
} kelvane_result;

/* Runs `job` to its end and returns kelvane's exit status for it: 0 when the
 * run reached its verdict (2 for a mismatch with `strict`), the interrupted
 * status after a stop (130 on Linux and other POSIX systems, 1 on Windows), 1 for
 * anything else, and
 * -1 for misuse (a NULL job, a size the library does not know, an operation
 * without what it needs, an unknown family), with nothing opened. `result`
 * may be NULL; otherwise its strings live until kelvane_result_free or the
 * next kelvane_run with it. */
KELVANE_API int kelvane_run(const kelvane_job* job, kelvane_result* result);
KELVANE_API void kelvane_result_free(kelvane_result* result);

/* ---- Ports ------------------------------------------------------------ */

/* The serial ports this machine has, one line each as kelvane /l lists them,
 * each ended by "\n", into `buffer` (cut to `size` bytes with its closing
 * NUL). Returns the number of ports, -1 when they cannot be listed. */
KELVANE_API int kelvane_list_ports(char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* KELVANE_H */
