#include "sim/line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kelvane::sim {

namespace {

struct BaudEntry {
  std::uint32_t rate;
  speed_t code;
};

constexpr BaudEntry BAUD_RATES[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::optional<speed_t> BaudCode(std::uint32_t baud) {
  for (const BaudEntry& entry : BAUD_RATES) {
    if (entry.rate == baud) return entry.code;
  }
  return std::nullopt;
}

// How long a write may wait for room before the line is taken to be choked.
constexpr int STALL_LIMIT_MS = 1000;

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool MakeRaw(int fd, std::optional<speed_t> speed, std::string& error) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    error = SystemError("tcgetattr");
    return false;
  }
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (speed) {
    cfsetispeed(&settings, *speed);
    cfsetospeed(&settings, *speed);
  }
  if (tcsetattr(fd, TCSANOW, &settings) != 0) {
    error = SystemError("tcsetattr");
    return false;
  }
  return true;
}

}  // namespace

Line::Line(int fd, int slaveFd, std::string path)
    : fd_(fd), slaveFd_(slaveFd), path_(std::move(path)) {}

Line::Line(Line&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      slaveFd_(std::exchange(other.slaveFd_, -1)),
      path_(std::move(other.path_)) {}

Line& Line::operator=(Line&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    slaveFd_ = std::exchange(other.slaveFd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Line::~Line() {
  Close();
}

std::optional<Line> Line::OpenPseudoTerminal(bool raw, std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    error = SystemError("posix_openpt");
    return std::nullopt;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    error = SystemError("pseudo-terminal setup");
    close(master);
    return std::nullopt;
  }
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    error = SystemError(std::string("open ") + name);
    close(master);
    return std::nullopt;
  }
  Line line(master, slave, name);
  if (raw && !MakeRaw(slave, std::nullopt, error)) return std::nullopt;
  // Non-blocking so a burst of input is drained without hanging on the last read.
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return line;
}

std::optional<Line> Line::OpenDevice(const std::string& path, std::uint32_t baud,
                                     std::string& error) {
  const auto speed = BaudCode(baud);
  if (!speed) {
    error = "--device: " + std::to_string(baud) +
            " baud is not a standard rate, the only ones set here (1200 to 921600)";
    return std::nullopt;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError("open " + path);
    return std::nullopt;
  }
  Line line(fd, -1, path);
  if (!MakeRaw(fd, speed, error)) return std::nullopt;
  return line;
}

long Line::Read(std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t n = read(fd_, buffer.data(), buffer.size());
    if (n > 0) return n;
    if (n == 0) return -1;  // end of file: the device went away
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    // A pseudo-terminal master reads EIO while no slave is open; ours always
    // is, so EIO means the line is really gone.
    return -1;
  }
}

bool Line::WriteAll(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd waiting{fd_, POLLOUT, 0};
      const int ready = poll(&waiting, 1, STALL_LIMIT_MS);
      if (ready < 0 && errno != EINTR) return false;
      if (ready == 0 && slaveFd_ >= 0) {
        // Nobody has read the pseudo-terminal for a long while and its queue
        // is full: drop what is queued, as a real line with no listener would.
        tcflush(slaveFd_, TCIFLUSH);
      }
      continue;
    }
    return false;
  }
  return true;
}

void Line::Drain(int limitMs) {
  if (fd_ < 0) return;
  if (slaveFd_ < 0) {
    tcdrain(fd_);
    return;
  }
  // Written bytes reach the slave's input queue a moment after the write;
  // a loader may also have read them before we look. So: wait for them to
  // show up (or give them a short while), then for the queue to empty.
  constexpr int STEP_MS = 5;
  constexpr int ARRIVAL_MS = 50;
  bool arrived = false;
  for (int waited = 0; waited < limitMs; waited += STEP_MS) {
    int unread = 0;
    if (ioctl(slaveFd_, TIOCINQ, &unread) != 0) return;
    if (unread > 0) arrived = true;
    if (unread == 0 && (arrived || waited >= ARRIVAL_MS)) return;
    poll(nullptr, 0, STEP_MS);
  }
}

void Line::Close() {
  if (fd_ >= 0) close(fd_);
  if (slaveFd_ >= 0) close(slaveFd_);
  fd_ = -1;
  slaveFd_ = -1;
}

}  // namespace kelvane::sim
