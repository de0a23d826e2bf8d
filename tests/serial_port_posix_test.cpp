#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "link/serial_port.h"
#include "tests/support/pseudo_terminal.h"

namespace {

// A UART keeps the framing the last program gave it, but Linux
// pseudo-terminals hold every line at 8 bits without parity whatever is asked
// of them. So while `lineFramedSevenEvenOne` is set the loader sees the line
// framed 7E1, as a port left by a terminal program may come, and what it asks
// for is taken on its way to the real tcsetattr.
bool lineFramedSevenEvenOne = false;
termios requestedLine{};

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int tcgetattr(int fd, termios* line) {
  static const auto real = Real<int (*)(int, termios*)>("tcgetattr");
  const int result = real(fd, line);
  if (result == 0 && lineFramedSevenEvenOne) {
    line->c_cflag = (line->c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
  }
  return result;
}

extern "C" int tcsetattr(int fd, int action, const termios* line) {
  static const auto real = Real<int (*)(int, int, const termios*)>("tcsetattr");
  requestedLine = *line;
  return real(fd, action, line);
}

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A port as it often comes: cooked for a terminal, with parity. The loader's
// own settings must make it a raw 8N1 line, whatever drive-sim does.
TEST(SerialPortPosix, CookedLineBecomesRawEightNoneOne) {
  testing::PseudoTerminal line(testing::PseudoTerminal::Setup::AsItComes);
  termios cooked{};
  ASSERT_EQ(tcgetattr(line.master(), &cooked), 0);
  cooked.c_lflag |= ECHO | ICANON | ISIG;
  cooked.c_iflag |= ICRNL | IXON | IXOFF;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_cflag = (cooked.c_cflag & ~static_cast<tcflag_t>(CLOCAL)) | CSTOPB;
  ASSERT_EQ(tcsetattr(line.master(), TCSANOW, &cooked), 0);

  SerialPort port;
  lineFramedSevenEvenOne = true;
  const int opened = port.OpenPath(line.slavePath().c_str(), 38400);
  lineFramedSevenEvenOne = false;
  ASSERT_EQ(opened, 1);
  const termios asked = requestedLine;
  termios raw{};
  ASSERT_EQ(tcgetattr(line.master(), &raw), 0);
  struct Flag {
    const char* name;
    tcflag_t set;
    tcflag_t mask;
    tcflag_t expected;
  };
  const Flag flags[] = {
      {"PARENB", asked.c_cflag, PARENB, 0}, {"CS8", asked.c_cflag, CSIZE, CS8},
      {"CSTOPB", raw.c_cflag, CSTOPB, 0},   {"CLOCAL", raw.c_cflag, CLOCAL, CLOCAL},
      {"CREAD", raw.c_cflag, CREAD, CREAD}, {"IXON", raw.c_iflag, IXON, 0},
      {"IXOFF", raw.c_iflag, IXOFF, 0},     {"ICRNL", raw.c_iflag, ICRNL, 0},
      {"ECHO", raw.c_lflag, ECHO, 0},       {"ICANON", raw.c_lflag, ICANON, 0},
      {"ISIG", raw.c_lflag, ISIG, 0},       {"OPOST", raw.c_oflag, OPOST, 0},
  };
  for (const Flag& f : flags) EXPECT_EQ(f.set & f.mask, f.expected) << f.name;

  // XON, XOFF and CR are ordinary frame bytes in both directions, and no LF
  // grows a CR. The loader writes first: a line still obeying XOFF would stop
  // its writes for good.
  const Bytes special = {0x11, 0x13, 0x0D, 0x0A};
  ASSERT_TRUE(port.Write(special));
  EXPECT_EQ(line.Receive(special.size()), special);
  ASSERT_EQ(line.Write(special), special.size());
  Bytes received;
  for (std::size_t i = 0; i < special.size(); ++i) {
    std::uint8_t byte = 0;
    if (port.ReadByte(byte) != ReadOutcome::Byte) break;
    received.push_back(byte);
  }
  EXPECT_EQ(received, special);
}

// The kernel's record of a line's rates, laid out as <asm/termbits.h> has
// termios2 (that header cannot share a unit with <termios.h>).
struct KernelLine {
  tcflag_t flags[4];
  cc_t discipline;
  cc_t characters[19];
  speed_t inputRate;
  speed_t outputRate;
};

TEST(SerialPortPosix, LineRunsAtTheRateAsked) {
  for (const speed_t rate : {115200u, 250000u}) {
    testing::PseudoTerminal line;
    SerialPort port;
    ASSERT_EQ(port.OpenPath(line.slavePath().c_str(), static_cast<int>(rate)), 1) << rate;
    KernelLine kernel{};
    ASSERT_EQ(ioctl(line.master(), _IOR('T', 0x2A, KernelLine), &kernel), 0);
    EXPECT_EQ(kernel.inputRate, rate);
    EXPECT_EQ(kernel.outputRate, rate);
  }
}

// What is not a serial line is refused and leaves the port closed; a line
// held by one port is refused to another, and free again once it is gone.
TEST(SerialPortPosix, PortHoldsItsLineWhileOpenOnly) {
  for (const char* path : {"/dev/null", "/nonexistent/ttyUSB0"}) {
    SerialPort port;
    EXPECT_EQ(port.OpenPath(path, 38400), 0) << path;
    EXPECT_FALSE(port.IsOpen()) << path;
  }
  testing::PseudoTerminal line;
  {
    SerialPort first;
    ASSERT_EQ(first.OpenPath(line.slavePath().c_str(), 38400), 1);
    SerialPort second;
    EXPECT_EQ(second.OpenPath(line.slavePath().c_str(), 38400), 0);
  }
  SerialPort next;
  EXPECT_EQ(next.OpenPath(line.slavePath().c_str(), 38400), 1);
}

// A signal the loader leaves to its default handling elsewhere (a terminal
// resize, a child's end) must not cut the wait for the drive's byte short.
TEST(SerialPortPosix, SignalsDoNotEndTheWaitForTheDrive) {
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};
  sigaction(SIGUSR1, &quiet, nullptr);
  testing::PseudoTerminal line;
  SerialPort port;
  ASSERT_EQ(port.OpenPath(line.slavePath().c_str(), 38400), 1);
  const pthread_t loader = pthread_self();
  // Signals keep coming for a tenth of the loader's silence limit, so that
  // some of them meet it waiting; then the drive's byte arrives.
  std::thread drive([&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (std::chrono::steady_clock::now() < until) pthread_kill(loader, SIGUSR1);
    line.Write(Bytes{0x5A});
  });
  std::uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte), ReadOutcome::Byte);
  drive.join();
  EXPECT_EQ(byte, 0x5A);
}

// COM1 to COM9 are ttyS0 to ttyS8; other numbers are refused before any
// device is tried. Without serial hardware an accepted number shows in the
// error of the failed open.
TEST(SerialPortPosix, PortNumbersOneToNineAreTried) {
  for (int number : {0, 1, 9, 10, -48}) {
    SerialPort port;
    errno = 0;
    const int opened = port.Open(number, 38400);
    const bool tried = opened == 1 || errno != 0;
    EXPECT_EQ(tried, number >= 1 && number <= 9) << "COM" << number;
  }
}

}  // namespace
}  // namespace kelvane
