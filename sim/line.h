#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kelvane::sim {

// The drive's end of the serial line: the master side of a pseudo-terminal
// whose slave the loader opens, or a real serial device.
class Line {
 public:
  // A new pseudo-terminal, its slave held open by us for the whole run, so
  // the master never sees a hang-up between two loader runs and the slave
  // keeps its settings. The slave is left as the kernel makes it, cooked
  // (echo, CR to LF, XON/XOFF), the way a real port may come, so that only
  // the loader's own line settings let the frames through unchanged.
  // `raw` sets it raw instead, for a loader run under Wine: Wine leaves a
  // terminal's line discipline as it finds it, as a Windows COM port has
  // none.
  static std::optional<Line> OpenPseudoTerminal(bool raw, std::string& error);
  // An existing serial device at `baud` (a standard rate), 8N1, raw.
  static std::optional<Line> OpenDevice(const std::string& path, std::uint32_t baud,
                                        std::string& error);

  Line(Line&& other) noexcept;
  Line& operator=(Line&& other) noexcept;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line();

  // The descriptor to poll and read: the master, or the device.
  int fd() const { return fd_; }
  // The path the loader opens: the pseudo-terminal's slave, or the device.
  const std::string& path() const { return path_; }

  // Bytes read (0 when none are waiting), or -1 when the line is gone.
  long Read(std::span<std::uint8_t> buffer);
  // Writes all of `bytes`, waiting for room; false when the line is gone.
  bool WriteAll(std::span<const std::uint8_t> bytes);
  // Waits, at most `limitMs`, until the far side has taken in everything
  // written: a pseudo-terminal throws away unread input when it hangs up.
  void Drain(int limitMs);
  // Hangs up: the far side sees the line drop.
  void Close();

 private:
  Line(int fd, int slaveFd, std::string path);

  int fd_ = -1;
  int slaveFd_ = -1;
  std::string path_;
};

}  // namespace kelvane::sim
