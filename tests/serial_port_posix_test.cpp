#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "link/serial_port.h"
#include "tests/support/pseudo_terminal.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// termios2 of <asm/termbits.h>, which cannot share a unit with <termios.h>.
struct KernelLine {
  tcflag_t flags[4];
  cc_t discipline, characters[19];
  speed_t inputRate, outputRate;
};

void ExpectRate(const testing::PseudoTerminal& line, speed_t rate) {
  KernelLine kernel{};
  ASSERT_EQ(ioctl(line.master(), _IOR('T', 0x2A, KernelLine), &kernel), 0);
  EXPECT_EQ(std::pair(kernel.inputRate, kernel.outputRate), std::pair(rate, rate));
}

// A port as it often comes, cooked for a terminal, becomes raw 8N1. A signal the loader leaves to
// its default handling elsewhere (a terminal resize, a child's end) must not cut the wait for the
// drive's byte short.
TEST(SerialPortPosix, CookedLineBecomesRawEightNoneOneAndSignalsDoNotEndTheWait) {
  testing::PseudoTerminal line;
  termios cooked{};
  ASSERT_EQ(tcgetattr(line.master(), &cooked), 0);
  cooked.c_lflag |= ECHO | ICANON | ISIG;
  cooked.c_iflag |= ICRNL | IXON | IXOFF;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_cflag = (cooked.c_cflag & ~static_cast<tcflag_t>(CLOCAL)) | CSTOPB;
  cooked.c_cc[VMIN] = 5;
  cooked.c_cc[VTIME] = 1;
  ASSERT_EQ(tcsetattr(line.master(), TCSANOW, &cooked), 0);
  SerialPort port;
  ASSERT_EQ(port.OpenPath(line.slavePath().c_str(), 115200), OpenResult::Opened);
  termios raw{};
  ASSERT_EQ(tcgetattr(line.master(), &raw), 0);
  EXPECT_EQ(raw.c_cflag & (CSTOPB | CLOCAL), CLOCAL);
  EXPECT_EQ((raw.c_iflag & (IXON | IXOFF | ICRNL)) | (raw.c_lflag & (ECHO | ICANON | ISIG)), 0u);
  EXPECT_EQ(std::tuple(raw.c_oflag & OPOST, raw.c_cc[VMIN], raw.c_cc[VTIME], cfgetospeed(&raw)),
            std::tuple(0u, 0, 2, B115200));
  ExpectRate(line, 115200);
  // XON, XOFF, CR and LF pass as they are both ways; the loader writes first,
  // as a line obeying XOFF would stop it for good.
  const Bytes special = {0x11, 0x13, 0x0D, 0x0A};
  ASSERT_TRUE(port.Write(special));
  EXPECT_EQ(line.Receive(special.size()), special);
  ASSERT_EQ(line.Write(special), special.size());
  Bytes received(special.size());
  for (std::uint8_t& byte : received) port.ReadByte(byte);
  EXPECT_EQ(received, special);
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};
  sigaction(SIGUSR1, &quiet, nullptr);
  const pthread_t loader = pthread_self();
  // Signals for a tenth of the silence limit, then the drive's byte.
  std::thread drive([&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (std::chrono::steady_clock::now() < until) pthread_kill(loader, SIGUSR1);
    line.Write(Bytes{0x5A});
  });
  std::uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte), ReadOutcome::Byte);
  drive.join();
  EXPECT_EQ(byte, 0x5A);
  // Then the drive says nothing more: silence, which is not a failed line.
  EXPECT_EQ(port.ReadByte(byte), ReadOutcome::Silence);
  line.Hangup();  // the adapter pulled: the write fails instead of spinning
  EXPECT_FALSE(port.Write(special));
}

// COM1 to COM9 are ttyS0 to ttyS8 (other numbers are refused before any device
// is tried). A loader started as a session leader, as a service is, must not
// take the drive's line for its controlling terminal: a hang-up would kill it.
TEST(SerialPortPosix, OpensComOneToNineAtAnyRateNeverAsTheControllingTerminal) {
  SerialPort unnamed;
  EXPECT_EQ(unnamed.OpenPath(nullptr, 38400), OpenResult::NoSuchDevice);
  for (int number : {0, 1, 9, 10, -48}) {
    SerialPort port;
    errno = 0;
    const bool tried = port.Open(number, 38400) == OpenResult::Opened || errno != 0;
    EXPECT_EQ(tried, number >= 1 && number <= 9) << "COM" << number;
  }
  testing::PseudoTerminal line;
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    SerialPort port;
    const bool opened = port.OpenPath(line.slavePath().c_str(), 250000) == OpenResult::Opened;
    _exit(opened && open("/dev/tty", O_RDWR | O_NOCTTY) < 0 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  auto port = std::make_unique<SerialPort>();
  ASSERT_EQ(port->OpenPath(line.slavePath().c_str(), 250000), OpenResult::Opened);
  ExpectRate(line, 250000);
  port.reset();  // gives the line back, free for the next program to open
  const int slave = open(line.slavePath().c_str(), O_RDWR | O_NOCTTY);
  int exclusive = 1;
  EXPECT_TRUE(ioctl(slave, TIOCGEXCL, &exclusive) == 0 && exclusive == 0 && close(slave) == 0);
}

}  // namespace
}  // namespace kelvane
