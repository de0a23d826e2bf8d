#pragma once

// End-to-end harness: the real kelvane program against the real drive-sim on a
// pseudo-terminal. Every test gets its own temporary directory and its own
// drive-sim (so its own pseudo-terminal); the loader runs with that directory
// as its working directory and relative file names, the way a user runs it
// next to the firmware file. Every wait is bounded, so a hanging program fails
// the test instead of stalling the suite.
//
// Under Wine (KELVANE_WINE_EXE, KELVANE_WINE_COM, KELVANE_WINE_COM_LINK set) the
// Windows build runs instead, on COM<n>, which the Wine prefix maps to the
// link that each drive-sim makes to its pseudo-terminal. Expected output is
// the same in both modes except the port lines, which PortLine() and
// PortFailureLine() build.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::e2e {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- cases

// Table rows carry a `name`: it is how GoogleTest shows the row, and so what
// ctest calls the test (".../EmptyFile" rather than ".../2"). Rows declared
// in an unnamed namespace need `using e2e::PrintTo;` there, since lookup by
// argument type searches only the row's own namespace.
template <typename Case>
requires requires(const Case& c) {
  std::string_view(c.name);
}
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// ---------------------------------------------------------------- files

Bytes ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, std::string_view text);
// A committed sample from examples/.
Bytes ExampleBytes(const std::string& name);

// A fresh directory of its own, removed with everything in it at the end
// (kept when KELVANE_E2E_KEEP is set, for looking at a failure).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const;
  void Write(std::string_view name, const Bytes& bytes) const;
  void Write(std::string_view name, std::string_view text) const;
  // Copies examples/<name> into the directory under the same name.
  void CopyExample(const std::string& name) const;

 private:
  std::string path_;
};

// ---------------------------------------------------------------- processes

// A child process with its standard output and error going to files, in a
// process group of its own, killed when the test process dies.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Returns an empty text on success, else why the start failed.
  std::string Start(const std::vector<std::string>& argv, const std::string& workingDirectory,
                    const std::string& stdoutPath, const std::string& stderrPath);
  bool Running();
  // Waits up to `limit` for the child to end; false if it is still running.
  bool Wait(std::chrono::milliseconds limit);
  void Signal(int signalNumber);
  // SIGKILL to the whole process group, then reap.
  void Kill();
  // Exit status, or 128 + signal number when a signal ended it.
  int status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// ---------------------------------------------------------------- Wine mode

struct WineMode {
  std::string exe;      // kelvane.exe
  std::string com;      // the COM digit, e.g. "7"
  std::string comLink;  // the path that COM<digit> is mapped to
};
// Set when the environment asks for the Windows build under Wine.
std::optional<WineMode> WineModeFromEnvironment();
bool UnderWine();

// ---------------------------------------------------------------- drive-sim

inline constexpr std::size_t NYM_FLASH_SIZE = 0x40800;
inline constexpr std::size_t TL3XX_FLASH_SIZE = 0x10200;
inline constexpr std::size_t SERIES27_FLASH_SIZE = 0x20000;
inline constexpr std::size_t TK720_FLASH_SIZE = 0x200000;

class DriveSim {
 public:
  // Starts drive-sim as a drive of `family` (nym, tl3xx, 27, tk720,
  // tk720-digest) with `arguments` added (faults, identity, --flash-in).
  DriveSim(const TempDir& dir, std::string family, std::vector<std::string> arguments = {});
  ~DriveSim();

  ::testing::AssertionResult Started() const;
  // The pseudo-terminal's path, as drive-sim printed it.
  const std::string& pty() const { return pty_; }
  // The loader's port option for this drive: /c<pty> natively, /c<n> under Wine.
  std::string PortArgument() const;
  // "<port> open at <baud> baud\r\n" and "Failed to open <port> port\r\n".
  std::string PortLine(int baud = 38400) const;
  std::string PortFailureLine() const;
  // SIGTERM, wait for drive-sim to save its flash and exit, read the flash.
  ::testing::AssertionResult Stop(Bytes& flash);
  // One line per request drive-sim received (its --log).
  std::string Log() const;

 private:
  const TempDir& dir_;
  Process process_;
  std::string pty_;
  std::string startError_;
  bool stopped_ = false;
};

// ---------------------------------------------------------------- the loader

struct LoaderResult {
  int status = -1;
  bool timedOut = false;
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

// The one place that forms the loader's command line: the program (natively
// KELVANE_BIN, under Wine `wine kelvane.exe`), then the port option of `sim`
// when one is given, then `arguments`.
std::vector<std::string> LoaderCommand(const DriveSim* sim,
                                       const std::vector<std::string>& arguments);

// A loader run in the background, for the cases that need it alive.
class LoaderProcess {
 public:
  LoaderProcess(const TempDir& dir, const DriveSim* sim, std::vector<std::string> arguments);
  ::testing::AssertionResult Started() const;
  // Waits until the output so far holds `text`.
  bool WaitForOutput(std::string_view text, std::chrono::milliseconds limit);
  LoaderResult Finish(std::chrono::milliseconds limit);
  void Kill() { process_.Kill(); }

 private:
  const TempDir& dir_;
  Process process_;
  std::string outPath_;
  std::string errPath_;
  std::string startError_;
  std::chrono::steady_clock::time_point started_;
};

inline constexpr std::chrono::milliseconds LOADER_TIME_LIMIT = 120s;

// The exit status and the whole standard output, byte for byte; the
// loader's standard error is shown with a failure.
::testing::AssertionResult RanAs(const LoaderResult& result, int status,
                                 const std::string& expectedOut);
// The lines of drive-sim's request log.
std::vector<std::string> Lines(const std::string& text);

// Runs the loader to its end in `dir` (killed after `limit`).
LoaderResult RunLoader(const TempDir& dir, const DriveSim* sim,
                       const std::vector<std::string>& arguments,
                       std::chrono::milliseconds limit = LOADER_TIME_LIMIT);

// ---------------------------------------------------------------- output

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// CR, LF and other control bytes made visible.
std::string Escape(std::string_view text);
// Byte-for-byte comparison; on failure, the lines around the first difference
// with control characters escaped.
::testing::AssertionResult SameOutput(const std::string& expected, const std::string& actual);

// Texts of the run sequence.
std::string Banner();
std::string Usage();
extern const char* const NOT_SPECIFIED;
// The countdown lines of `failures` failed identify attempts.
std::string Countdown(int failures);
// Banner, `optionLines` (the "Unknown option" lines), port line, countdown,
// connection lines, "Device details:", the identity lines and the empty line
// before the procedure.
std::string Prologue(const DriveSim& sim, const std::string& identityLines, int failedAttempts = 0,
                     const std::string& optionLines = "");

// The block passes. `first` is the index of the first block sent, `count`
// the total that the progress lines show after "of".
struct BlockPass {
  const char* unit;          // "sectors" or "blocks"
  const char* mismatchWord;  // "Sector" or "Block"
  int first;
  int count;
};
inline constexpr BlockPass SectorPass(int count, int first = 0) {
  return {"sectors", "Sector", first, count};
}
inline constexpr BlockPass BlockPassOf(int count) {
  return {"blocks", "Block", 0, count};
}

// "Updating firmware:" and the progress lines of blocks first .. end - 1.
std::string WriteProgress(const BlockPass& pass, int end);
// The whole write pass, with its closing line.
std::string WritePass(const BlockPass& pass);
// "Verifying firmware:" and the verify lines of blocks first .. end - 1;
// `errors` maps a block index to its number of differing bytes.
std::string VerifyProgress(const BlockPass& pass, int end, const std::map<int, int>& errors = {});
std::string VerifyPass(const BlockPass& pass, const std::map<int, int>& errors = {});
extern const char* const VERIFIED;

// ---------------------------------------------------------------- identities

// Identity replies handed to drive-sim with --identity-hex, and the lines
// the loader prints for them.
extern const char* const NYM_IDENTITY_HEX;  // 40 bytes, personality block size 512
extern const char* const NYM_IDENTITY_LINES;
extern const char* const NYM_BASIC_IDENTITY_HEX;  // 14 bytes
extern const char* const NYM_BASIC_IDENTITY_LINES;
extern const char* const NYM_NO_PERSONALITY_HEX;  // 40 bytes, personality block size 0
extern const char* const NYM_NO_PERSONALITY_LINES;
extern const char* const SERIES27_IDENTITY_HEX;  // 28 bytes
extern const char* const SERIES27_IDENTITY_LINES;
extern const char* const TK720_PERSONALITY_HEX;  // 112 bytes
extern const char* const TK720_PERSONALITY_LINES;
// The personality fields behind TK720_PERSONALITY_LINES as drive-sim options,
// for a digest drive whose reply also tells about the firmware it holds;
// `more` follows them.
std::vector<std::string> DigestDriveArguments(std::vector<std::string> more = {});

std::string Hex(const Bytes& bytes);
Bytes FromHex(std::string_view hex);

// ---------------------------------------------------------------- images

// What the drive should hold: independent renderings of the image formats,
// for well-formed test files.
struct SRecord {
  char type;   // '0' .. '9'
  Bytes body;  // the count byte and the bytes it counts, as decoded from the line
};
std::vector<SRecord> ParseSRecords(std::string_view text);
// The record stream of a Nym file: type digit, count, body, per record; FF FF.
Bytes NymRecordStream(std::string_view text);

struct WordImage {
  Bytes bytes;  // data (made even), then the checksum, least significant byte first
  std::uint32_t checksum = 0;
};
WordImage WordImageOf(std::string_view text);

// The /m image: header words, the file from byte 8, 0xFF pad, check word.
Bytes ChecksummedImageOf(const Bytes& file);
// The /s image without its time stamp (offsets 16..19 left 0).
Bytes DigestStampedImageOf(const Bytes& file);
// MD5 of `bytes` by the system's md5sum, as 16 bytes.
Bytes Md5(const Bytes& bytes);

// An S-record line with its checksum: type digit, address width in bytes.
std::string SRecordLine(char type, int addressBytes, std::uint32_t address, const Bytes& data);

// Flash helpers.
Bytes Erased(std::size_t size);
void Place(Bytes& flash, std::size_t at, const Bytes& data);
// A fixed non-erased pattern, so that untouched regions are recognisable.
Bytes Pattern(std::size_t size, std::uint32_t seed);
// Positions at which `flash` differs from `expected`, at most a few, for
// failure messages; sizes compared too.
::testing::AssertionResult SameFlash(const Bytes& expected, const Bytes& actual);

}  // namespace kelvane::e2e
