#pragma once

// A pseudo-terminal pair of the test's own: a real serial device. The code
// under test opens the slave path as its port; the test plays the other end
// on the master.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvane::testing {

class PseudoTerminal {
 public:
  // The line discipline the port has before the code under test opens it.
  // AsItComes leaves it as the kernel makes a new terminal: cooked, with
  // echo, CR to LF and XON/XOFF, the way a real port often is, so that only
  // the opener's own settings make the line carry bytes unchanged. Raw is
  // for a test whose subject is not the port's settings.
  enum class Setup { AsItComes, Raw };

  // `nonBlocking` makes the master's reads and writes return at once.
  explicit PseudoTerminal(Setup setup = Setup::AsItComes, bool nonBlocking = false);
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Empty when no pseudo-terminal could be made.
  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }

  // Writes as much of `bytes` as the terminal takes; how much that was.
  std::size_t Write(std::span<const std::uint8_t> bytes) const;
  // Up to `count` bytes written to the slave; fewer after `quietMs` without
  // a byte.
  std::vector<std::uint8_t> Receive(std::size_t count, int quietMs = 5000) const;
  // The far end goes away: the slave's opener sees the line hang up.
  void Hangup();

 private:
  int master_ = -1;
  // Held open for the test's whole life: a pseudo-terminal forgets its
  // settings, and the bytes queued for it, when its last opener closes it.
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace kelvane::testing
