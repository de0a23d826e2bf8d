#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace kelvane::e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto POLL_STEP = 5ms;
constexpr auto SIM_START_LIMIT = 10s;
constexpr auto SIM_STOP_LIMIT = 10s;

std::string TailOf(const std::string& text, std::size_t limit = 2000) {
  return text.size() <= limit ? text : "..." + text.substr(text.size() - limit);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

// ---------------------------------------------------------------- files

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

Bytes ExampleBytes(const std::string& name) {
  return ReadBytes(std::string(EXAMPLES_DIR) + "/" + name);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kelvane-e2e-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
    return;
  }
  path_ = name.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  if (std::getenv("KELVANE_E2E_KEEP") != nullptr) {
    std::fprintf(stderr, "kept %s\n", path_.c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

void TempDir::Write(std::string_view name, const Bytes& bytes) const {
  WriteBytes(File(name), bytes);
}

void TempDir::Write(std::string_view name, std::string_view text) const {
  WriteText(File(name), text);
}

void TempDir::CopyExample(const std::string& name) const {
  Write(name, ExampleBytes(name));
}

// ---------------------------------------------------------------- processes

Process::~Process() {
  Kill();
}

std::string Process::Start(const std::vector<std::string>& argv,
                           const std::string& workingDirectory, const std::string& stdoutPath,
                           const std::string& stderrPath) {
  // Everything the child needs is prepared before fork: between fork and exec
  // only async-signal-safe calls are made.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int outFd = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int errFd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2];
  if (outFd < 0 || errFd < 0 || nullFd < 0 || pipe2(report, O_CLOEXEC) != 0) {
    std::string why = std::string("cannot prepare the child: ") + std::strerror(errno);
    for (int fd : {outFd, errFd, nullFd})
      if (fd >= 0) close(fd);
    return why;
  }
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // Die with the test process, so no drive-sim or loader outlives a test
    // that was killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    dup2(nullFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    int error = 0;
    if (chdir(workingDirectory.c_str()) != 0) {
      error = errno;
    } else {
      execve(args[0], args.data(), environ);
      if (errno == ENOENT) execvpe(args[0], args.data(), environ);
      error = errno;
    }
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(outFd);
  close(errFd);
  close(nullFd);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    return std::string("fork: ") + std::strerror(errno);
  }
  pid_ = pid;
  status_ = -1;
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    Wait(5s);
    pid_ = -1;
    return "cannot run " + argv[0] + ": " + std::strerror(error);
  }
  return {};
}

bool Process::Running() {
  if (pid_ < 0) return false;
  int wstatus = 0;
  pid_t done = waitpid(pid_, &wstatus, WNOHANG);
  if (done == 0) return true;
  if (done == pid_) {
    status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  }
  pid_ = -1;
  return false;
}

bool Process::Wait(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Running()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(POLL_STEP);
  }
  return true;
}

void Process::Signal(int signalNumber) {
  if (pid_ > 0) kill(pid_, signalNumber);
}

void Process::Kill() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int wstatus = 0;
  while (waitpid(pid_, &wstatus, 0) < 0 && errno == EINTR) {
  }
  status_ = 128 + SIGKILL;
  pid_ = -1;
}

// ---------------------------------------------------------------- Wine mode

std::optional<WineMode> WineModeFromEnvironment() {
  const char* exe = std::getenv("KELVANE_WINE_EXE");
  if (exe == nullptr || *exe == '\0') return std::nullopt;
  const char* com = std::getenv("KELVANE_WINE_COM");
  const char* link = std::getenv("KELVANE_WINE_COM_LINK");
  return WineMode{exe, com != nullptr ? com : "7", link != nullptr ? link : ""};
}

bool UnderWine() {
  return WineModeFromEnvironment().has_value();
}

// ---------------------------------------------------------------- drive-sim

DriveSim::DriveSim(const TempDir& dir, std::string family, std::vector<std::string> arguments)
    : dir_(dir) {
  std::vector<std::string> argv = {
      DRIVE_SIM_BIN, "--family",         family, "--flash-out", dir.File("sim-flash.out"),
      "--log",       dir.File("sim.log")};
  if (auto wine = WineModeFromEnvironment()) {
    argv.push_back("--link");
    argv.push_back(wine->comLink);
    argv.push_back("--raw-line");
  }
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  startError_ = process_.Start(argv, dir.path(), dir.File("sim.stdout"), dir.File("sim.stderr"));
  if (!startError_.empty()) return;

  // The first line of drive-sim's output is the pseudo-terminal's path.
  const auto deadline = Clock::now() + SIM_START_LIMIT;
  for (;;) {
    std::string out = ReadText(dir.File("sim.stdout"));
    std::size_t end = out.find('\n');
    if (end != std::string::npos) {
      pty_ = out.substr(0, end);
      if (pty_.empty()) startError_ = "drive-sim printed an empty first line";
      return;
    }
    if (!process_.Running()) {
      startError_ = Format("drive-sim ended with status %d before naming its pseudo-terminal: %s",
                           process_.status(), ReadText(dir.File("sim.stderr")).c_str());
      return;
    }
    if (Clock::now() >= deadline) {
      startError_ = "drive-sim named no pseudo-terminal within 10 s";
      process_.Kill();
      return;
    }
    std::this_thread::sleep_for(POLL_STEP);
  }
}

DriveSim::~DriveSim() {
  if (!stopped_) process_.Kill();
}

::testing::AssertionResult DriveSim::Started() const {
  if (startError_.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << startError_;
}

std::string DriveSim::PortArgument() const {
  if (auto wine = WineModeFromEnvironment()) return "/c" + wine->com;
  return "/c" + pty_;
}

std::string DriveSim::PortLine(int baud) const {
  if (auto wine = WineModeFromEnvironment())
    return Format("COM%s open at %d baud\r\n", wine->com.c_str(), baud);
  return Format("%s open at %d baud\r\n", pty_.c_str(), baud);
}

std::string DriveSim::PortFailureLine() const {
  if (auto wine = WineModeFromEnvironment())
    return Format("Failed to open COM%s port\r\n", wine->com.c_str());
  return Format("Failed to open %s port\r\n", pty_.c_str());
}

::testing::AssertionResult DriveSim::Stop(Bytes& flash) {
  stopped_ = true;
  process_.Signal(SIGTERM);
  if (!process_.Wait(SIM_STOP_LIMIT)) {
    process_.Kill();
    return ::testing::AssertionFailure() << "drive-sim did not end within 10 s of SIGTERM";
  }
  if (process_.status() != 0) {
    return ::testing::AssertionFailure() << "drive-sim ended with status " << process_.status()
                                         << ": " << TailOf(ReadText(dir_.File("sim.stderr")));
  }
  flash = ReadBytes(dir_.File("sim-flash.out"));
  return ::testing::AssertionSuccess();
}

std::string DriveSim::Log() const {
  return ReadText(dir_.File("sim.log"));
}

// ---------------------------------------------------------------- the loader

std::vector<std::string> LoaderCommand(const DriveSim* sim,
                                       const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  if (auto wine = WineModeFromEnvironment()) {
    argv = {"wine", wine->exe};
  } else {
    argv = {KELVANE_BIN};
  }
  if (sim != nullptr) argv.push_back(sim->PortArgument());
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

LoaderProcess::LoaderProcess(const TempDir& dir, const DriveSim* sim,
                             std::vector<std::string> arguments)
    : dir_(dir) {
  // Several loaders may run in one directory: each gets its own output files.
  for (int n = 1;; ++n) {
    outPath_ = dir.File(Format("kelvane-%d.stdout", n));
    if (!std::filesystem::exists(outPath_)) break;
  }
  errPath_ = outPath_.substr(0, outPath_.size() - 6) + "stderr";
  started_ = Clock::now();
  startError_ = process_.Start(LoaderCommand(sim, arguments), dir.path(), outPath_, errPath_);
}

::testing::AssertionResult LoaderProcess::Started() const {
  if (startError_.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << startError_;
}

bool LoaderProcess::WaitForOutput(std::string_view text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (ReadText(outPath_).find(text) != std::string::npos) return true;
    if (!process_.Running() || Clock::now() >= deadline) {
      return ReadText(outPath_).find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(POLL_STEP);
  }
}

LoaderResult LoaderProcess::Finish(std::chrono::milliseconds limit) {
  LoaderResult result;
  if (!startError_.empty()) {
    result.err = startError_;
    return result;
  }
  const auto left =
      limit - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
  if (!process_.Wait(std::max(left, std::chrono::milliseconds(0)))) {
    process_.Kill();
    result.timedOut = true;
  }
  result.status = process_.status();
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
  result.out = ReadText(outPath_);
  result.err = ReadText(errPath_);
  return result;
}

LoaderResult RunLoader(const TempDir& dir, const DriveSim* sim,
                       const std::vector<std::string>& arguments, std::chrono::milliseconds limit) {
  LoaderProcess loader(dir, sim, arguments);
  LoaderResult result = loader.Finish(limit);
  if (result.timedOut) {
    ADD_FAILURE() << "the loader did not end within " << limit.count()
                  << " ms and was killed; its output so far:\n"
                  << Escape(TailOf(result.out));
  }
  return result;
}

::testing::AssertionResult RanAs(const LoaderResult& result, int status,
                                 const std::string& expectedOut) {
  ::testing::AssertionResult same = SameOutput(expectedOut, result.out);
  if (same && result.status == status && !result.timedOut) return same;
  auto failure = ::testing::AssertionFailure();
  if (result.timedOut) failure << "the loader was killed after its time limit\n";
  if (result.status != status) {
    failure << "exit status " << result.status << ", expected " << status << "\n";
  }
  if (!same) failure << same.message();
  if (!result.err.empty()) failure << "standard error:\n" << TailOf(result.err) << "\n";
  return failure;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// ---------------------------------------------------------------- output

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

std::string Escape(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\\') {
      escaped += "\\\\";
    } else if (u < 0x20 || u >= 0x7F) {
      escaped += Format("\\x%02X", u);
    } else {
      escaped += c;
    }
  }
  return escaped;
}

namespace {

// Console lines as the user sees them: each ends after LF, or after a CR
// that is not followed by LF (a progress line that the next one overwrites).
std::vector<std::string> Segments(const std::string& text) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool end =
        text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    if (end) {
      segments.push_back(text.substr(start, i + 1 - start));
      start = i + 1;
    }
  }
  if (start < text.size()) segments.push_back(text.substr(start));
  return segments;
}

}  // namespace

::testing::AssertionResult SameOutput(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  const std::vector<std::string> want = Segments(expected);
  const std::vector<std::string> got = Segments(actual);
  std::size_t prefix = 0;
  while (prefix < want.size() && prefix < got.size() && want[prefix] == got[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < want.size() - prefix && suffix < got.size() - prefix &&
         want[want.size() - 1 - suffix] == got[got.size() - 1 - suffix]) {
    ++suffix;
  }
  std::size_t byte = 0;
  while (byte < expected.size() && byte < actual.size() && expected[byte] == actual[byte]) ++byte;

  constexpr std::size_t CONTEXT = 3;
  constexpr std::size_t SHOWN = 25;
  std::ostringstream message;
  message << "output differs from byte " << byte << " (line " << prefix + 1 << "); expected "
          << expected.size() << " bytes, got " << actual.size() << "\n";
  for (std::size_t i = prefix > CONTEXT ? prefix - CONTEXT : 0; i < prefix; ++i) {
    message << "    " << Escape(want[i]) << "\n";
  }
  auto show = [&](const std::vector<std::string>& lines, const char* mark) {
    std::size_t end = lines.size() - suffix;
    for (std::size_t i = prefix; i < end && i < prefix + SHOWN; ++i) {
      message << mark << Escape(lines[i]) << "\n";
    }
    if (end > prefix + SHOWN) message << mark << "... " << end - prefix - SHOWN << " more\n";
  };
  show(want, "  - ");
  show(got, "  + ");
  for (std::size_t i = want.size() - suffix; i < want.size() && i < want.size() - suffix + CONTEXT;
       ++i) {
    message << "    " << Escape(want[i]) << "\n";
  }
  return ::testing::AssertionFailure() << message.str();
}

std::string Banner() {
  return "\r\n Ostrel firmware loader\r\n"
         "                                            Version 2.03\r\n\r\n";
}

std::string Usage() {
  return " Use: Kelvane [options] filename\r\n"
         "\r\n"
         "    /cX     - COM port number               (default 1)\r\n"
         "    /bXXXXX - Baud rate                     (default 38400)\r\n"
         "    /v      - Only verify firmware          (default load and verify)\r\n"
         "    /a      - TL3xx family firmware         (defaults to Nym family)\r\n"
         "    /9      - 27 series family firmware     (defaults to Nym family)\r\n"
         "    /m      - TK720 family firmware *       (defaults to Nym family)\r\n"
         "    /s      - new TK720 firmware with md5 * (defaults to Nym family)\r\n"
         "    /d      - clear entire flash\r\n"
         "    /p      - clear parameters section only\r\n"
         "    /h/?    - This help screen\r\n"
         "\r\n"
         "    * requires binary image file. Not S-record !\r\n";
}

const char* const NOT_SPECIFIED = "S-record file with firmware is not specified\r\n";

std::string Countdown(int failures) {
  std::string lines;
  for (int i = 0; i < failures; ++i) {
    lines += Format("Trying to establish link with device %4d\r", 1000 - i);
  }
  return lines;
}

std::string Prologue(const DriveSim& sim, const std::string& identityLines, int failedAttempts,
                     const std::string& optionLines) {
  return Banner() + optionLines + sim.PortLine() + Countdown(failedAttempts) +
         "Connection with device established.\r\n\r\nDevice details:\r\n" + identityLines + "\r\n";
}

std::string WriteProgress(const BlockPass& pass, int end) {
  std::string text = "Updating firmware:\r\n";
  for (int k = pass.first; k < end; ++k) {
    text += Format("%4d of %4d %s updated\r", k + 1, pass.count, pass.unit);
  }
  return text;
}

std::string WritePass(const BlockPass& pass) {
  return WriteProgress(pass, pass.count) + "\r\nFirmware was successufully updated\r\n";
}

std::string VerifyProgress(const BlockPass& pass, int end, const std::map<int, int>& errors) {
  std::string text = "Verifying firmware:\r\n";
  for (int k = pass.first; k < end; ++k) {
    auto found = errors.find(k);
    if (found != errors.end() && found->second > 0) {
      text += Format(" %s %4d has %4d errorneous location(s)\r\n", pass.mismatchWord, k + 1,
                     found->second);
    } else {
      text += Format("%4d of %4d %s verifyed\r", k + 1, pass.count, pass.unit);
    }
  }
  return text;
}

std::string VerifyPass(const BlockPass& pass, const std::map<int, int>& errors) {
  return VerifyProgress(pass, pass.count, errors);
}

const char* const VERIFIED = "\r\nFirmware was successufully verifyed\r\n";

// ---------------------------------------------------------------- identities

// monitorRevision 0x0213, model N77, hardware B02, current 0x0250, serial
// 123456, reserved 0x00A5, personality block size 512, MAC 00 1A 2B 3C 4D 5E,
// reserved 0x1234, date code 0x20240115, manufacturing 42, test station 7.
const char* const NYM_IDENTITY_HEX =
    "1302"
    "4E3737"
    "423032"
    "5002"
    "40E20100"
    "A500"
    "00020000"
    "001A2B3C4D5E"
    "3412"
    "15012420"
    "2A000000"
    "07000000";
const char* const NYM_IDENTITY_LINES =
    " Monitor revision:       0213\r\n"
    " Model code:             N77\r\n"
    " Hardware revision:      B02\r\n"
    " Current capability:     02.50 Amp\r\n"
    " Serial number           123456\r\n"
    " Reserved                00A5\r\n"
    " Personality block size  512\r\n"
    " MAC address             001A2B 3C4D5e\r\n"
    " Reserved                1234\r\n"
    " Date code               20240115\r\n"
    " Manufacturing code      42\r\n"
    " Test station code       7\r\n";

// The basic part only: monitorRevision 0x0301, model T31, hardware C07,
// current 0x1A05, serial -5.
const char* const NYM_BASIC_IDENTITY_HEX =
    "0103"
    "543331"
    "433037"
    "051A"
    "FBFFFFFF";
const char* const NYM_BASIC_IDENTITY_LINES =
    " Monitor revision:       0301\r\n"
    " Model code:             T31\r\n"
    " Hardware revision:      C07\r\n"
    " Current capability:     1A.05 Amp\r\n"
    " Serial number           -5\r\n";

// All 40 bytes, but personality block size 0: the extended lines are not shown.
const char* const NYM_NO_PERSONALITY_HEX =
    "2007"
    "4B3732"
    "443031"
    "0010"
    "D2040000"
    "FFFF"
    "00000000"
    "AABBCCDDEEFF"
    "FFFF"
    "FFFFFFFF"
    "FFFFFFFF"
    "FFFFFFFF";
const char* const NYM_NO_PERSONALITY_LINES =
    " Monitor revision:       0720\r\n"
    " Model code:             K72\r\n"
    " Hardware revision:      D01\r\n"
    " Current capability:     10.00 Amp\r\n"
    " Serial number           1234\r\n";

// buildNumber 291, current 6.5 A, bus 12.25 counts/V, current sensor 102.4
// counts/A, monitorRevision 0x0105, model S27, hardware A01, serial 2701.
const char* const SERIES27_IDENTITY_HEX =
    "2301"
    "0000D040"
    "00004441"
    "CDCCCC42"
    "0501"
    "533237"
    "413031"
    "0000"
    "8D0A0000";
const char* const SERIES27_IDENTITY_LINES =
    " Monitor revision:          0105\r\n"
    " Model code:                S27\r\n"
    " Hardware revision:         A01\r\n"
    " Current capability:        6.50 Amp\r\n"
    " Serial number              2701\r\n"
    " Build number               291\r\n"
    " Current sensor resolution: 102.40 ADC counts/Amp\r\n"
    " Bus sensor resolution:     12.25 ADC counts/V\r\n";

// Numbers most significant byte first: monitorRevision 0x203, buildNumber
// 1187, current 20.0 A, bus 51.2 counts/V, current sensor 409.6 counts/A,
// serial 720123, manufacturing 5, hardware "B12", model "720", VIN
// "OST-TK720-0001", MAC 02 00 5E 10 20 30, checksum 0x0000BEEF.
const char* const TK720_PERSONALITY_HEX =
    "00000203"
    "000004A3"
    "41A00000"
    "424CCCCD"
    "43CCCCCD"
    "000AFCFB"
    "00000005"
    "42313200"
    "37323000"
    "4F53542D544B3732302D30303031"
    "0000000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000"
    "02005E102030"
    "0000"
    "0000BEEF";
const char* const TK720_PERSONALITY_LINES =
    "   monitorRevision              515\n"
    "   buildNumber                  1187\n"
    "   driveCurrentCapability       20.00 Amp\n"
    "   busSensorResolution          51.20 Counts/V\n"
    "   currentSensorResolution      409.60 Counts/Amp\n"
    "   serialNumber                 720123\n"
    "   manufacturingCode            5\n"
    "   hardwareRevision             B.12\n"
    "   modelCode                    720\n"
    "   vinNumber                    OST-TK720-0001\n"
    "   macAddress                   02 00 5e 10 20 30\n"
    "   checksum                     beef\n";

std::vector<std::string> DigestDriveArguments(std::vector<std::string> more) {
  std::vector<std::string> arguments = {"--monitor-revision",
                                        "515",
                                        "--build",
                                        "1187",
                                        "--current",
                                        "20",
                                        "--bus-resolution",
                                        "51.2",
                                        "--current-resolution",
                                        "409.6",
                                        "--serial",
                                        "720123",
                                        "--manufacturing-code",
                                        "5",
                                        "--hardware",
                                        "B12",
                                        "--model",
                                        "720",
                                        "--vin",
                                        "OST-TK720-0001",
                                        "--mac",
                                        "02005E102030",
                                        "--personality-checksum",
                                        "0xBEEF"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += Format("%02X", b);
  return text;
}

Bytes FromHex(std::string_view hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1])));
  }
  return bytes;
}

// ---------------------------------------------------------------- images

std::vector<SRecord> ParseSRecords(std::string_view text) {
  std::vector<SRecord> records;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 4 || line[0] != 'S') continue;
    SRecord record{line[1], FromHex(line.substr(2))};
    // Keep the count byte and exactly the bytes it counts.
    if (!record.body.empty() && record.body.size() > std::size_t{record.body[0]} + 1) {
      record.body.resize(std::size_t{record.body[0]} + 1);
    }
    records.push_back(record);
  }
  return records;
}

Bytes NymRecordStream(std::string_view text) {
  Bytes stream;
  for (const SRecord& r : ParseSRecords(text)) {
    if (r.type != '2' && r.type != '3' && r.type != '7' && r.type != '8') continue;
    stream.push_back(static_cast<std::uint8_t>(r.type));
    stream.insert(stream.end(), r.body.begin(), r.body.end());
  }
  stream.push_back(0xFF);
  stream.push_back(0xFF);
  return stream;
}

WordImage WordImageOf(std::string_view text) {
  WordImage image;
  Bytes& bytes = image.bytes;
  for (const SRecord& r : ParseSRecords(text)) {
    int width = r.type == '1' ? 2 : r.type == '2' ? 3 : 0;
    if (width == 0 || r.body.size() < std::size_t(1 + width)) continue;
    std::size_t address = 0;
    for (int i = 0; i < width; ++i) address = address * 256 + r.body[1 + i];
    // The data bytes sit between the address and the record's checksum byte.
    std::size_t count = r.body[0] > width + 1 ? r.body[0] - width - 1 : 0;
    if (bytes.size() < address + count) bytes.resize(address + count, 0xFF);
    for (std::size_t j = 0; j < count; ++j) bytes[address + j] = r.body[1 + width + j];
  }
  if (bytes.size() % 2 != 0) bytes.push_back(0x00);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) sum += bytes[i] + 256u * bytes[i + 1];
  image.checksum = sum;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  return image;
}

namespace {

void PutBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace

Bytes ChecksummedImageOf(const Bytes& file) {
  Bytes image = file;
  while (image.size() % 4 != 0) image.push_back(0xFF);
  PutBigEndian(image, 0, 0xF1E2D3C4);
  PutBigEndian(image, 4, static_cast<std::uint32_t>(image.size() / 4 + 1));
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 4) {
    sum += (std::uint32_t{image[i]} << 24) | (std::uint32_t{image[i + 1]} << 16) |
           (std::uint32_t{image[i + 2]} << 8) | image[i + 3];
  }
  image.resize(image.size() + 4);
  PutBigEndian(image, image.size() - 4, 0u - sum);
  return image;
}

Bytes DigestStampedImageOf(const Bytes& file) {
  Bytes image = file;
  while (image.size() % 4 != 0) image.push_back(0xFF);
  PutBigEndian(image, 20, static_cast<std::uint32_t>(image.size() - 20));
  for (int i = 16; i < 20; ++i) image[i] = 0;
  Bytes digest = Md5(Bytes(image.begin() + 20, image.end()));
  std::copy(digest.begin(), digest.end(), image.begin());
  return image;
}

Bytes Md5(const Bytes& bytes) {
  // The system's md5sum is the reference: no digest code of our own here.
  TempDir dir;
  dir.Write("data", bytes);
  Process md5sum;
  std::string error =
      md5sum.Start({"md5sum", "data"}, dir.path(), dir.File("sum"), dir.File("err"));
  if (!error.empty() || !md5sum.Wait(30s) || md5sum.status() != 0) {
    ADD_FAILURE() << "md5sum failed: " << error << ReadText(dir.File("err"));
    return Bytes(16, 0);
  }
  return FromHex(ReadText(dir.File("sum")).substr(0, 32));
}

std::string SRecordLine(char type, int addressBytes, std::uint32_t address, const Bytes& data) {
  Bytes fields;
  fields.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i) {
    fields.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  }
  fields.insert(fields.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t b : fields) sum += b;
  fields.push_back(static_cast<std::uint8_t>(~sum));
  return std::string("S") + type + Hex(fields) + "\n";
}

Bytes Erased(std::size_t size) {
  return Bytes(size, 0xFF);
}

void Place(Bytes& flash, std::size_t at, const Bytes& data) {
  if (flash.size() < at + data.size()) flash.resize(at + data.size(), 0xFF);
  std::copy(data.begin(), data.end(), flash.begin() + static_cast<std::ptrdiff_t>(at));
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::uint32_t x = seed;
  for (std::uint8_t& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
    // Keep the pattern clearly apart from erased flash.
    if (b == 0xFF) b = 0x5A;
  }
  return bytes;
}

::testing::AssertionResult SameFlash(const Bytes& expected, const Bytes& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  if (expected.size() != actual.size()) {
    failure << "flash size " << actual.size() << ", expected " << expected.size() << "; ";
  }
  int shown = 0;
  std::size_t differing = 0;
  for (std::size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
    if (expected[i] == actual[i]) continue;
    ++differing;
    if (shown++ < 8) {
      failure << Format("[0x%05zX] is %02X, expected %02X; ", i, actual[i], expected[i]);
    }
  }
  failure << differing << " differing byte(s)";
  return failure;
}

}  // namespace kelvane::e2e
