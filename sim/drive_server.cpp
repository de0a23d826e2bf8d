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

#include "sim/drive_monitor.h"
#include "sim/frame_codec.h"
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

}  // namespace

int ServeDrive(const SimOptions& options, std::FILE* out, std::FILE* err) {
  DriveMonitor monitor(options.family, options.identity, options.faults);
  if (options.flashIn) {
    const auto bytes = ReadWholeFile(*options.flashIn);
    if (!bytes) {
      std::fprintf(err, "drive-sim: --flash-in: cannot read %s: %s\n", options.flashIn->c_str(),
                   std::strerror(errno));
      return 2;
    }
    if (!monitor.flash().Load(*bytes)) {
      std::fprintf(err, "drive-sim: --flash-in: %s holds %zu bytes, more than the %u-byte flash\n",
                   options.flashIn->c_str(), bytes->size(),
                   static_cast<unsigned>(monitor.flash().layout().flashSize));
      return 2;
    }
  }
  // The flash is saved only at exit: a place it cannot be written to must be
  // found now, not after a whole session of loads.
  if (options.flashOut) {
    const bool existed = access(options.flashOut->c_str(), F_OK) == 0;
    if (!File(std::fopen(options.flashOut->c_str(), "ab"))) {
      std::fprintf(err, "drive-sim: --flash-out: cannot write %s: %s\n", options.flashOut->c_str(),
                   std::strerror(errno));
      return 2;
    }
    if (!existed) unlink(options.flashOut->c_str());
  }
  File log;
  const bool logToOut = options.logPath && *options.logPath == "-";
  if (options.logPath && !logToOut && !(log = File(std::fopen(options.logPath->c_str(), "w")))) {
    std::fprintf(err, "drive-sim: --log: cannot create %s: %s\n", options.logPath->c_str(),
                 std::strerror(errno));
    return 1;
  }
  File capture;
  if (options.capturePath && !(capture = File(std::fopen(options.capturePath->c_str(), "wb")))) {
    std::fprintf(err, "drive-sim: --capture: cannot create %s: %s\n", options.capturePath->c_str(),
                 std::strerror(errno));
    return 1;
  }

  if (options.pace) {
    const std::uint64_t wireMs = std::uint64_t{LONGEST_EXCHANGE_BYTES} * 10 * 1000 / options.baud;
    if (options.baud < SLOWEST_PACED_BAUD) {
      std::fprintf(
          err,
          "drive-sim: below %u baud a paced line cannot be trusted: at %u baud one %u-byte "
          "block exchange takes %llu ms on the wire, against the loader's %u ms wait for a "
          "reply; a pseudo-terminal cannot model that line (its writes leave at once), so "
          "expect the loader to give up where a real line would not\n",
          static_cast<unsigned>(SLOWEST_PACED_BAUD), static_cast<unsigned>(options.baud),
          static_cast<unsigned>(LONGEST_EXCHANGE_BYTES), static_cast<unsigned long long>(wireMs),
          static_cast<unsigned>(LOADER_REPLY_WINDOW_MS));
    }
  }

  // Blocked before the path is printed: whoever reads it may stop us at once.
  StopSignals stops;
  signal(SIGPIPE, SIG_IGN);
  std::string error;
  std::optional<Line> line = options.devicePath
                                 ? Line::OpenDevice(*options.devicePath, options.baud, error)
                                 : Line::OpenPseudoTerminal(options.rawLine, error);
  if (!line) {
    std::fprintf(err, "drive-sim: %s\n", error.c_str());
    return 1;
  }
  if (options.linkPath) {
    unlink(options.linkPath->c_str());
    if (symlink(line->path().c_str(), options.linkPath->c_str()) != 0) {
      std::fprintf(err, "drive-sim: --link: cannot create %s: %s\n", options.linkPath->c_str(),
                   std::strerror(errno));
      return 1;
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

  FrameParser parser;
  std::deque<PendingReply> pending;
  Clock::time_point lastByte = Clock::now();
  Clock::time_point lastDue = Clock::now();
  const std::optional<std::uint64_t> hangupAfter = options.faults.hangupAfter();
  bool hangingUp = hangupAfter && *hangupAfter == 0;
  int status = 0;

  const auto writeLog = [&](const std::string& text) {
    std::FILE* to = logToOut ? out : log.get();
    if (to == nullptr) return;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
  };

  for (;;) {
    // Send whatever is due.
    while (!pending.empty() && pending.front().due <= Clock::now()) {
      if (!line->WriteAll(pending.front().bytes)) {
        std::fprintf(err, "drive-sim: the line failed while writing: %s\n", std::strerror(errno));
        status = 1;
        break;
      }
      pending.pop_front();
    }
    if (status != 0) break;
    if (hangingUp && pending.empty()) break;

    pollfd fds[2] = {{stops.fd(), POLLIN, 0},
                     {line->fd(), static_cast<short>(hangingUp ? 0 : POLLIN), 0}};
    timespec wait{};
    if (!pending.empty()) wait = TimeUntil(pending.front().due);
    if (ppoll(fds, 2, pending.empty() ? nullptr : &wait, nullptr) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(err, "drive-sim: poll: %s\n", std::strerror(errno));
      status = 1;
      break;
    }
    if (fds[0].revents & POLLIN) break;  // SIGTERM or SIGINT
    if (hangingUp || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;

    std::uint8_t chunk[4096];
    const long n = line->Read(chunk);
    if (n < 0) {
      std::fprintf(err, "drive-sim: the line went away\n");
      status = 1;
      break;
    }
    if (n == 0) {
      // Nothing to read although poll said so: a device that reports a hang-up.
      if (fds[1].revents & (POLLHUP | POLLERR)) {
        std::fprintf(err, "drive-sim: the line hung up\n");
        status = 1;
        break;
      }
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (capture) {
      std::fwrite(chunk, 1, static_cast<std::size_t>(n), capture.get());
      std::fflush(capture.get());
    }
    if (parser.InFrame() && now - lastByte > RECEIVE_TIMEOUT) parser.Reset();
    lastByte = now;

    for (long i = 0; i < n && !hangingUp; ++i) {
      const ParseEvent event = parser.Feed(chunk[i]);
      if (event == ParseEvent::BadHeader || event == ParseEvent::BadPayloadChecksum) {
        writeLog(DriveMonitor::DescribeDroppedFrame(event));
        continue;
      }
      if (event != ParseEvent::Frame) continue;
      MonitorAnswer answer = monitor.Handle(parser.frame());
      writeLog(answer.logLine);
      if (!answer.silent) {
        Clock::time_point due = now;
        if (options.pace) {
          due += LineTime(parser.frame().frameSize + answer.bytes.size(), options.baud);
        }
        if (answer.late) due += LATE_DELAY;
        // Replies leave in the order of their requests, even behind a late one.
        if (due < lastDue) due = lastDue;
        lastDue = due;
        pending.push_back({due, std::move(answer.bytes)});
      }
      if (hangupAfter && monitor.requestsReceived() >= *hangupAfter) hangingUp = true;
    }
  }

  if (hangingUp) line->Drain(HANGUP_DRAIN_MS);
  line->Close();
  if (options.linkPath) unlink(options.linkPath->c_str());
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

}  // namespace kelvane::sim
