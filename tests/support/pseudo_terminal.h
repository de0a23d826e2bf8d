#pragma once

// A pseudo-terminal pair of the test's own, a real serial device: the code
// under test opens the slave path as its port, the test plays the far end on
// the master.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvane::testing {

class PseudoTerminal {
 public:
  // AsItComes leaves the port as the kernel makes a terminal: cooked, with
  // echo, CR to LF and XON/XOFF, as a real port may come, so only the
  // opener's own settings make it carry bytes unchanged. Raw is for tests
  // whose subject is not the port's settings.
  enum class Setup { AsItComes, Raw };

  // `nonBlocking`: reads and writes on the master return at once.
  explicit PseudoTerminal(Setup setup = Setup::AsItComes, bool nonBlocking = false);
  ~PseudoTerminal() { Hangup(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Empty when no pseudo-terminal could be made.
  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }

  // Writes what the terminal takes of `bytes`; how much that was.
  std::size_t Write(std::span<const std::uint8_t> bytes) const;
  // Up to `count` bytes written to the slave; fewer after `quietMs` of quiet.
  std::vector<std::uint8_t> Receive(std::size_t count, int quietMs = 5000) const;
  // The far end goes away: the slave's opener sees the line hang up.
  void Hangup();

 private:
  int master_ = -1;
  // Held open all along: a terminal forgets its settings, and the bytes
  // queued for it, when its last opener closes it.
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace kelvane::testing
