#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "link/custom_baud_linux.h"
#include "link/serial_port.h"
#include "link/system_error.h"

namespace kelvane {

// The line as the port had it, and on Linux its driver's serial flags.
struct SavedLineSettings {
  termios line{};
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  bool serialSaved = false;
  serial_struct serial{};
#endif
};

namespace {

int Descriptor(std::intptr_t handle) {
  return static_cast<int>(handle);
}

struct StandardRate {
  int rate;
  speed_t code;
};

// The rates every serial driver knows by constant; anything else needs the
// driver's free-rate interface.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

const StandardRate* FindStandardRate(int baudRate) {
  for (const StandardRate& entry : kStandardRates) {
    if (entry.rate == baudRate) return &entry;
  }
  return nullptr;
}

// Raw binary line, 8N1. The drive's frames carry every byte value, including
// 0x11/0x13 (XON/XOFF), CR, LF and the terminal's signal characters, so the
// line discipline must pass all of them through untouched and echo nothing.
void MakeRawEightNoneOne(termios& line) {
  line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IXON | IXOFF | IXANY);
  line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  // CLOCAL: a drive's cable often has no carrier line; CRTSCTS stays as the
  // port had it, as some adapters are wired for it.
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  // A read returns with what is waiting, or with nothing after 200 ms (the
  // line's timer counts tenths of a second): the drive's time to answer.
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = READ_SILENCE_MS / 100;
}

// Most USB serial adapters hold short input for up to 16 ms before passing
// it on, longer than a whole block exchange takes on the wire at 921600 baud;
// low latency makes them pass every byte on at once. Drivers without the
// flag (a pseudo-terminal, a plain UART) refuse the request, and the line
// works as well without it.
void AskForLowLatency(int fd, SavedLineSettings& saved) {
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  if (ioctl(fd, TIOCGSERIAL, &saved.serial) != 0) return;
  saved.serialSaved = true;
  serial_struct fast = saved.serial;
  fast.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &fast);
#else
  (void)fd;
  (void)saved;
#endif
}

// The next program on the port finds it as this one did.
void RestoreLine(int fd, const SavedLineSettings& saved) {
  tcsetattr(fd, TCSANOW, &saved.line);
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  if (saved.serialSaved) ioctl(fd, TIOCSSERIAL, &saved.serial);
#endif
}

OpenResult FailureOfOpen(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return OpenResult::NoSuchDevice;
    case EACCES:
    case EPERM:
      return OpenResult::AccessDenied;
    case EBUSY:  // marked exclusive (TIOCEXCL) by another program
      return OpenResult::InUse;
    default:
      return OpenResult::System;
  }
}

// The name of group `gid`, or "" when it has none. A statically linked
// program cannot load the C library's name services of whatever system it
// runs on, so that build reads the system's group file itself.
std::string GroupName(gid_t gid) {
#ifdef KELVANE_STATIC_LINK
  std::FILE* groups = std::fopen("/etc/group", "r");
  if (groups == nullptr) return "";
  char line[1024];
  std::string name;
  // Each line is name:password:gid:members.
  while (name.empty() && std::fgets(line, sizeof line, groups) != nullptr) {
    char* password = std::strchr(line, ':');
    char* id = password != nullptr ? std::strchr(password + 1, ':') : nullptr;
    if (id != nullptr && std::strtoul(id + 1, nullptr, 10) == gid && id[1] != ':') {
      name.assign(line, password);
    }
  }
  std::fclose(groups);
  return name;
#else
  const group* owner = getgrgid(gid);
  return owner != nullptr ? owner->gr_name : "";
#endif
}

// Serial devices belong to a group (dialout on Debian and Ubuntu) whose
// members may open them; name it, as that is the usual fix.
std::string AccessHint(const std::string& device) {
  struct stat status;
  if (stat(device.c_str(), &status) != 0) return "";
  const std::string owner = GroupName(status.st_gid);
  if (owner.empty() || status.st_gid == 0) return "; only root may open it";
  return "; the user must be in the group " + owner + " that owns it (sudo usermod -aG " + owner +
         " $USER, then log in again)";
}

// What a read or a write on an open tty fails with once the device is gone:
// a USB adapter pulled out hangs its tty up, a pseudo-terminal whose far end
// closed reads EIO.
bool DeviceWentAway(int error) {
  return error == EIO || error == ENODEV || error == ENXIO;
}

// Takes in one call whatever the driver holds, up to the size of `into`: the
// line's own timer (VMIN 0, VTIME 2) returns the read as soon as anything is
// waiting, or with nothing after 200 ms of silence. One system call per burst
// where poll and read took two, and none per byte: a 264-byte sector reply is
// one read. A read that a signal cut short goes on with poll for what is left
// of the 200 ms, as signals must not end the wait for the drive.
ReadOutcome FetchWaiting(int fd, std::span<std::uint8_t> into, std::size_t& got, bool& gone) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(READ_SILENCE_MS);
  bool interrupted = false;
  for (;;) {
    if (interrupted) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd ready{fd, POLLIN, 0};
      const int n = poll(&ready, 1, left > 0 ? static_cast<int>(left) : 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ReadOutcome::Failure;
      if (n == 0) return ReadOutcome::Silence;
    }
    const ssize_t count = read(fd, into.data(), into.size());
    if (count > 0) {
      got = static_cast<std::size_t>(count);
      return ReadOutcome::Byte;
    }
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      interrupted = true;
      continue;
    }
    if (count < 0) {
      gone = DeviceWentAway(errno);
      return ReadOutcome::Failure;
    }
    // Nothing: the timer ran out, or the tty was hung up (end of file), which
    // poll tells apart without waiting.
    pollfd state{fd, POLLIN, 0};
    if (poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      gone = true;
      return ReadOutcome::Failure;
    }
    return ReadOutcome::Silence;
  }
}

}  // namespace

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
  Close();
}

OpenResult SerialPort::Fail(OpenResult why, int systemError) {
  openResult_ = why;
  openError_ = systemError;
  return why;
}

OpenResult SerialPort::Open(int portNumber, int baudRate) {
  // The PC's COM1..COM9 are Linux's ttyS0..ttyS8.
  if (portNumber < 1 || portNumber > 9) {
    device_ = "COM" + std::to_string(portNumber);
    return Fail(OpenResult::NoSuchDevice, 0);
  }
  char path[32];
  std::snprintf(path, sizeof path, "/dev/ttyS%d", portNumber - 1);
  return OpenPath(path, baudRate);
}

OpenResult SerialPort::OpenPath(const char* devicePath, int baudRate) {
  device_ = devicePath != nullptr ? devicePath : "";
  rate_ = baudRate;
  openResult_ = OpenResult::Opened;
  if (devicePath == nullptr) return Fail(OpenResult::NoSuchDevice, 0);
  if (baudRate <= 0) return Fail(OpenResult::RateRefused, 0);
  // Non-blocking while opening, so a port waiting for carrier cannot hang us.
  const int fd = open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(FailureOfOpen(errno), errno);
  // One loader per drive: a second one on the same line would interleave its
  // frames with ours. TIOCEXCL does not stop root, the advisory lock does.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    return Fail(error == EWOULDBLOCK ? OpenResult::InUse : OpenResult::System, error);
  }
  handle_ = fd;
  if (ioctl(fd, TIOCEXCL) != 0) {
    const OpenResult why =
        Fail(errno == ENOTTY ? OpenResult::NotSerial : OpenResult::System, errno);
    Close();
    return why;
  }
  const OpenResult configured = Configure(baudRate);
  if (configured != OpenResult::Opened) Close();
  return configured;
}

OpenResult SerialPort::Configure(int baudRate) {
  const int fd = Descriptor(handle_);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return Fail(OpenResult::System, errno);
  }

  termios line{};
  if (tcgetattr(fd, &line) != 0) {
    return Fail(errno == ENOTTY ? OpenResult::NotSerial : OpenResult::System, errno);
  }
  saved_ = std::make_unique<SavedLineSettings>();
  saved_->line = line;
  MakeRawEightNoneOne(line);
  const StandardRate* standard = FindStandardRate(baudRate);
  if (standard != nullptr) {
    if (cfsetispeed(&line, standard->code) != 0 || cfsetospeed(&line, standard->code) != 0) {
      return Fail(OpenResult::RateRefused, errno);
    }
  }
  if (tcsetattr(fd, TCSANOW, &line) != 0) {
    return Fail(errno == EINVAL ? OpenResult::RateRefused : OpenResult::System, errno);
  }
  if (standard == nullptr && !SetCustomBaudRate(fd, baudRate)) {
    return Fail(OpenResult::RateRefused, errno);
  }
  AskForLowLatency(fd, *saved_);
  // A drive never speaks unasked, so whatever waits now was meant for an
  // earlier program, such as a loader killed before it read its last reply;
  // left there, it would be read as the answer to this run's first request.
  tcflush(fd, TCIFLUSH);
  return OpenResult::Opened;
}

std::string SerialPort::DescribeOpenFailure() const {
  const std::string device = device_ + ": ";
  switch (openResult_) {
    case OpenResult::Opened:
      break;
    case OpenResult::NoSuchDevice:
      if (openError_ == 0) {
        return device +
               "no such port; COM1 to COM9 are /dev/ttyS0 to /dev/ttyS8, and any other serial "
               "device is named by its path (/c/dev/ttyUSB0)";
      }
      return device + "no such device";
    case OpenResult::AccessDenied:
      return device + "permission denied" + AccessHint(device_);
    case OpenResult::InUse:
      return device + "in use by another program";
    case OpenResult::RateRefused:
      return device + "the driver refuses the baud rate " + std::to_string(rate_);
    case OpenResult::NotSerial:
      return device + "not a serial device";
    case OpenResult::System:
      return device + SystemErrorText(openError_);
  }
  return "";
}

void SerialPort::Close() {
  if (handle_ == CLOSED_HANDLE) return;
  const int fd = Descriptor(handle_);
  if (saved_) RestoreLine(fd, *saved_);
  saved_.reset();
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  close(fd);
  handle_ = CLOSED_HANDLE;
  inputNext_ = inputEnd_ = 0;
}

bool SerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (handle_ == CLOSED_HANDLE || gone_) return false;
  const int fd = Descriptor(handle_);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Only if someone set the descriptor non-blocking behind our back.
      pollfd ready{fd, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
    } else {
      gone_ = n < 0 && DeviceWentAway(errno);
      return false;
    }
  }
  // The drive's time to answer runs from the request's last byte: at 9600
  // baud a block write takes 276 ms on the wire, longer than the drive is
  // given, so the wait for its reply must not start while the bytes are
  // still queued in the system or an adapter.
  while (tcdrain(fd) != 0) {
    if (errno == EINTR) continue;
    gone_ = DeviceWentAway(errno);
    return false;
  }
  return true;
}

bool SerialPort::WaitForHangUp() {
  if (!gone_ && silent_ && handle_ != CLOSED_HANDLE) {
    // Only a hang-up or an error ends this poll early: no events are asked for.
    pollfd state{Descriptor(handle_), 0, 0};
    gone_ = poll(&state, 1, HANG_UP_GRACE_MS) > 0;
  }
  return gone_;
}

ReadOutcome SerialPort::ReadByte(std::uint8_t& byte) {
  if (handle_ == CLOSED_HANDLE || gone_) return ReadOutcome::Failure;
  if (inputNext_ == inputEnd_) {
    const ReadOutcome fetched = FetchWaiting(Descriptor(handle_), input_, inputEnd_, gone_);
    silent_ = fetched == ReadOutcome::Silence;
    if (fetched != ReadOutcome::Byte) return fetched;
    inputNext_ = 0;
  }
  byte = input_[inputNext_++];
  return ReadOutcome::Byte;
}

}  // namespace kelvane
