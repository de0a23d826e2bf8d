#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kelvane::testing {

PseudoTerminal::PseudoTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128] = {};
  if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
      ptsname_r(master_, name, sizeof name) == 0) {
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  if (slave_ >= 0) slavePath_ = name;
  if (slave_ < 0) Hangup();
}

std::size_t PseudoTerminal::Write(std::span<const std::uint8_t> bytes) const {
  std::size_t sent = 0;
  for (ssize_t n; sent < bytes.size(); sent += std::size_t(n)) {
    n = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n < 0 && errno == EINTR) n = 0;
    if (n < 0) break;
  }
  return sent;
}

std::vector<std::uint8_t> PseudoTerminal::Receive(std::size_t count, int quietMs) const {
  std::vector<std::uint8_t> got;
  std::uint8_t chunk[512];
  for (pollfd ready{master_, POLLIN, 0}; got.size() < count && poll(&ready, 1, quietMs) == 1;) {
    const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

void PseudoTerminal::Hangup() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

}  // namespace kelvane::testing
