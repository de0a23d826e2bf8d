#include "sim/drive_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "monitor/drive_monitor.h"
#include "monitor/frame_codec.h"
#include "sim/line.h"

namespace kelvane::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A --late reply comes this long after its request, well past the loader's
// 200 ms of silence.
constexpr milliseconds LATE_DELAY{300};
// The monitor forgets a partial frame after this long without a byte, so a
// loader killed mid-request does not spoil the next one's first frame.
constexpr milliseconds RECEIVE_TIMEOUT{500};

// Before hanging up, the loader gets this long to read the last reply.
constexpr int HANGUP_DRAIN_MS = 2000;

// The loader waits this long for a reply. A paced reply leaves once its
// request and itself would have crossed the line, and the longest exchange
// takes this many bytes: a TK720 block read, 15 bytes out and 264 back.
constexpr std::uint32_t LOADER_REPLY_WINDOW_MS = 200;
constexpr std::uint32_t LONGEST_EXCHANGE_BYTES = 279;
// The slowest paced line every family's sample was measured to load over
// (194 ms for that exchange): below it the few milliseconds a busy machine
// adds make the loader give up now and then, and below 13950 baud always.
constexpr std::uint32_t SLOWEST_PACED_BAUD = 14400;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// An owned descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Stop signals are blocked for the whole run and read from a signalfd, so
// they are seen by poll and never interrupt anything half done.
class StopSignals {
 public:
  StopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    fd_ = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // The signals stay blocked: serving is over and the process is on its way
  // out, and a stop that arrives now (the loader's harness stopping a drive
  // that already hung up) must not end it mid-exit with the signal's status.
  ~StopSignals() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

struct PendingReply {
  Clock::time_point due;
  std::vector<std::uint8_t> bytes;
};

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  return std::fclose(file.release()) == 0;
}

// Time the request and its reply would take on a line of `baud`, 10 bits a byte.
Clock::duration LineTime(std::size_t bytes, std::uint32_t baud) {
  return std::chrono::microseconds(bytes * 10 * 1'000'000 / baud);
}

// The wait until `when`, to the nanosecond: a paced exchange at 921600 baud
// takes about 3 ms, and waits rounded up to whole milliseconds would make the
// simulated line a quarter slower than the real one.
timespec TimeUntil(Clock::time_point when) {
  const auto left = std::max(Clock::duration::zero(), when - Clock::now());
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return timespec{static_cast<time_t>(nanoseconds / 1'000'000'000),
                  static_cast<long>(nanoseconds % 1'000'000'000)};
}

// --flash-in into the monitor's flash, and --flash-out found writable now,
// not after a whole session of loads. False after saying why.
bool PrepareFlashFiles(const SimOptions& options, DriveMonitor& monitor, std::FILE* err) {
  if (options.flashIn) {
    const auto bytes = ReadWholeFile(*options.flashIn);
    if (!bytes) {
      std::fprintf(err, "drive-sim: --flash-in: cannot read %s: %s\n", options.flashIn->c_str(),
                   std::strerror(errno));
      return false;
    }
    if (!monitor.flash().Load(*bytes)) {
      std::fprintf(err, "drive-sim: --flash-in: %s holds %zu bytes, more than the %u-byte flash\n",
                   options.flashIn->c_str(), bytes->size(),
                   static_cast<unsigned>(monitor.flash().layout().flashSize));
      return false;
    }
  }
  if (options.flashOut) {
    const bool existed = access(options.flashOut->c_str(), F_OK) == 0;
    if (!File(std::fopen(options.flashOut->c_str(), "ab"))) {
      std::fprintf(err, "drive-sim: --flash-out: cannot write %s: %s\n", options.flashOut->c_str(),
                   std::strerror(errno));
      return false;
    }
    if (!existed) unlink(options.flashOut->c_str());
  }
  return true;
}

// Where the request log (--log, "-" for standard output) and the bytes
// received (--capture) go.
struct Records {
  std::FILE* out = nullptr;
  bool logToOut = false;
  File log;
  File capture;

  void Log(const std::string& text) const {
    std::FILE* to = logToOut ? out : log.get();
    if (to == nullptr) return;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
  }
};

// False after saying which file could not be created.
bool OpenRecords(const SimOptions& options, std::FILE* out, Records& records, std::FILE* err) {
  records.out = out;
  records.logToOut = options.logPath && *options.logPath == "-";
  if (options.logPath && !records.logToOut &&
      !(records.log = File(std::fopen(options.logPath->c_str(), "w")))) {
    std::fprintf(err, "drive-sim: --log: cannot create %s: %s\n", options.logPath->c_str(),
                 std::strerror(errno));
    return false;
  }
  if (options.capturePath &&
      !(records.capture = File(std::fopen(options.capturePath->c_str(), "wb")))) {
    std::fprintf(err, "drive-sim: --capture: cannot create %s: %s\n", options.capturePath->c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

void WarnOfSlowPace(std::uint32_t baud, std::FILE* err) {
  if (baud >= SLOWEST_PACED_BAUD) return;
  const std::uint64_t wireMs = std::uint64_t{LONGEST_EXCHANGE_BYTES} * 10 * 1000 / baud;
  std::fprintf(err,
               "drive-sim: below %u baud a paced line cannot be trusted: at %u baud one %u-byte "
               "block exchange takes %llu ms on the wire, against the loader's %u ms wait for a "
               "reply; a pseudo-terminal cannot model that line (its writes leave at once), so "
               "expect the loader to give up where a real line would not\n",
               static_cast<unsigned>(SLOWEST_PACED_BAUD), static_cast<unsigned>(baud),
               static_cast<unsigned>(LONGEST_EXCHANGE_BYTES),
               static_cast<unsigned long long>(wireMs),
               static_cast<unsigned>(LOADER_REPLY_WINDOW_MS));
}

// The line, linked as --link asks, its path printed alone on the first line of
// `out`; nothing after saying why.
std::optional<Line> OpenAnnouncedLine(const SimOptions& options, std::FILE* out, std::FILE* err) {
  std::string error;
  std::optional<Line> line = options.devicePath
                                 ? Line::OpenDevice(*options.devicePath, options.baud, error)
                                 : Line::OpenPseudoTerminal(options.rawLine, error);
  if (!line) {
    std::fprintf(err, "drive-sim: %s\n", error.c_str());
    return std::nullopt;
  }
  if (options.linkPath) {
    unlink(options.linkPath->c_str());
    if (symlink(line->path().c_str(), options.linkPath->c_str()) != 0) {
      std::fprintf(err, "drive-sim: --link: cannot create %s: %s\n", options.linkPath->c_str(),
                   std::strerror(errno));
      return std::nullopt;
    }
  }
  std::fprintf(out, "%s\n", line->path().c_str());
  std::fflush(out);
  if (isatty(fileno(err))) {
    // Someone is watching: say what serves where, since nothing else shows
    // until a loader connects.
    std::fprintf(err, "drive-sim: a %s drive on %s%s%s; Ctrl-C stops it\n",
                 LayoutOf(options.family).name, line->path().c_str(),
                 options.linkPath ? ", linked as " : "",
                 options.linkPath ? options.linkPath->c_str() : "");
  }
  return line;
}

// The requests taken from the line and the replies not yet sent.
class Exchanges {
 public:
  Exchanges(const SimOptions& options, DriveMonitor& monitor, const Records& records)
      : options_(options), monitor_(monitor), records_(records) {
    hangingUp_ = options.faults.hangupAfter() && *options.faults.hangupAfter() == 0;
  }

  // --hangup-after reached: nothing more is taken in.
  bool hangingUp() const { return hangingUp_; }
  bool done() const { return hangingUp_ && pending_.empty(); }
  // How long poll may wait before a reply is due; null: until the line speaks.
  const timespec* Wait(timespec& wait) const {
    if (pending_.empty()) return nullptr;
    return &(wait = TimeUntil(pending_.front().due));
  }

  // Sends whatever is due; false after saying the line failed.
  bool SendDue(Line& line, std::FILE* err) {
    while (!pending_.empty() && pending_.front().due <= Clock::now()) {
      if (!line.WriteAll(pending_.front().bytes)) {
        std::fprintf(err, "drive-sim: the line failed while writing: %s\n", std::strerror(errno));
        return false;
      }
      pending_.pop_front();
    }
    return true;
  }

  // Bytes read from the line at `now`: each request in them answered, its
  // reply queued to leave when it is due.
  void Take(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (records_.capture) {
      std::fwrite(bytes.data(), 1, bytes.size(), records_.capture.get());
      std::fflush(records_.capture.get());
    }
    if (parser_.InFrame() && now - lastByte_ > RECEIVE_TIMEOUT) parser_.Reset();
    lastByte_ = now;
    const std::optional<std::uint64_t> hangupAfter = options_.faults.hangupAfter();
    for (std::size_t i = 0; i < bytes.size() && !hangingUp_; ++i) {
      const ParseEvent event = parser_.Feed(bytes[i]);
      if (event == ParseEvent::BadHeader || event == ParseEvent::BadPayloadChecksum) {
        records_.Log(DriveMonitor::DescribeDroppedFrame(event));
        continue;
      }
      if (event != ParseEvent::Frame) continue;
      MonitorAnswer answer = monitor_.Handle(parser_.frame());
      records_.Log(answer.logLine);
      if (!answer.silent) {
        Clock::time_point due = now;
        if (options_.pace) {
          due += LineTime(parser_.frame().frameSize + answer.bytes.size(), options_.baud);
        }
        if (answer.late) due += LATE_DELAY;
        // Replies leave in the order of their requests, even behind a late one.
        if (due < lastDue_) due = lastDue_;
        lastDue_ = due;
        pending_.push_back({due, std::move(answer.bytes)});
      }
      if (hangupAfter && monitor_.requestsReceived() >= *hangupAfter) hangingUp_ = true;
    }
  }

 private:
  const SimOptions& options_;
  DriveMonitor& monitor_;
  const Records& records_;
  FrameParser parser_;
  std::deque<PendingReply> pending_;
  Clock::time_point lastByte_ = Clock::now();
  Clock::time_point lastDue_ = Clock::now();
  bool hangingUp_ = false;
};

// Answers the line until a stop signal, the hang-up --hangup-after asks for,
// or a line that fails: 0, or 1 after saying how it failed.
int ServeLine(Line& line, const StopSignals& stops, Exchanges& exchanges, std::FILE* err) {
  for (;;) {
    if (!exchanges.SendDue(line, err)) return 1;
    if (exchanges.done()) return 0;
    pollfd fds[2] = {{stops.fd(), POLLIN, 0},
                     {line.fd(), static_cast<short>(exchanges.hangingUp() ? 0 : POLLIN), 0}};
    timespec wait{};
    if (ppoll(fds, 2, exchanges.Wait(wait), nullptr) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(err, "drive-sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds[0].revents & POLLIN) return 0;  // SIGTERM or SIGINT
    if (exchanges.hangingUp() || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;

    std::uint8_t chunk[4096];
    const long n = line.Read(chunk);
    if (n < 0) {
      std::fprintf(err, "drive-sim: the line went away\n");
      return 1;
    }
    if (n == 0) {
      // Nothing to read although poll said so: a device that reports a hang-up.
      if (fds[1].revents & (POLLHUP | POLLERR)) {
        std::fprintf(err, "drive-sim: the line hung up\n");
        return 1;
      }
      continue;
    }
    exchanges.Take(std::span(chunk, static_cast<std::size_t>(n)), Clock::now());
  }
}

// Saves --flash-out and says what was served; the status, 1 once saving failed.
int SaveAndSumUp(const SimOptions& options, const DriveMonitor& monitor, int status,
                 std::FILE* err) {
  const bool saved =
      options.flashOut && WriteWholeFile(*options.flashOut, monitor.flash().contents());
  if (options.flashOut && !saved) {
    std::fprintf(err, "drive-sim: --flash-out: cannot write %s: %s\n", options.flashOut->c_str(),
                 std::strerror(errno));
    status = 1;
  }
  std::fprintf(err, "drive-sim: served %llu requests, injected %llu faults; %s%s\n",
               static_cast<unsigned long long>(monitor.requestsReceived()),
               static_cast<unsigned long long>(monitor.faultsInjected()),
               saved ? "flash saved to " : "flash not saved",
               saved ? options.flashOut->c_str() : "");
  return status;
}

}  // namespace

int ServeDrive(const SimOptions& options, std::FILE* out, std::FILE* err) {
  DriveMonitor monitor(options.family, options.identity, options.faults);
  if (!PrepareFlashFiles(options, monitor, err)) return 2;
  Records records;
  if (!OpenRecords(options, out, records, err)) return 1;
  if (options.pace) WarnOfSlowPace(options.baud, err);

  // Blocked before the path is printed: whoever reads it may stop us at once.
  StopSignals stops;
  signal(SIGPIPE, SIG_IGN);
  std::optional<Line> line = OpenAnnouncedLine(options, out, err);
  if (!line) return 1;
  Exchanges exchanges(options, monitor, records);
  const int status = ServeLine(*line, stops, exchanges, err);
  if (exchanges.hangingUp()) line->Drain(HANGUP_DRAIN_MS);
  line->Close();
  if (options.linkPath) unlink(options.linkPath->c_str());
  return SaveAndSumUp(options, monitor, status, err);
}

}  // namespace kelvane::sim
