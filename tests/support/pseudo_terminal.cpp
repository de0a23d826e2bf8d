#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kelvane::testing {

PseudoTerminal::PseudoTerminal(Setup setup, bool nonBlocking) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0));
  char name[128] = {};
  termios settings{};
  if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
      ptsname_r(master_, name, sizeof name) == 0) {
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  if (slave_ >= 0 && tcgetattr(slave_, &settings) == 0) {
    if (setup == Setup::Raw) cfmakeraw(&settings);
    if (tcsetattr(slave_, TCSANOW, &settings) == 0) slavePath_ = name;
  }
  if (slavePath_.empty()) Hangup();
}

std::size_t PseudoTerminal::Write(std::span<const std::uint8_t> bytes) const {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  return sent;
}

std::vector<std::uint8_t> PseudoTerminal::Receive(std::size_t count, int quietMs) const {
  std::vector<std::uint8_t> got;
  while (got.size() < count) {
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, quietMs) != 1) break;
    std::uint8_t chunk[512];
    const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

void PseudoTerminal::Hangup() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = -1;
  master_ = -1;
}

}  // namespace kelvane::testing
