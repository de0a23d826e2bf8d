#pragma once

// A pseudo-terminal pair, a real serial device: the code under test opens the
// slave path as its port, the test plays the far end on the master.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvane::testing {

class PseudoTerminal {
 public:
  // Cooked, with echo, CR to LF and XON/XOFF, as a real port may come: only
  // the opener's own settings make it carry bytes unchanged.
  PseudoTerminal();
  ~PseudoTerminal() { Hangup(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& slavePath() const { return slavePath_; }  // empty: none made
  int master() const { return master_; }
  // How much of `bytes` the terminal took.
  std::size_t Write(std::span<const std::uint8_t> bytes) const;
  // Up to `count` bytes written to the slave; fewer after `quietMs` of quiet.
  std::vector<std::uint8_t> Receive(std::size_t count, int quietMs = 5000) const;
  void Hangup();  // the slave's opener sees the line hang up

 private:
  int master_ = -1;
  // Held open all along: a terminal forgets its settings, and the bytes
  // queued for it, when its last opener closes it.
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace kelvane::testing
