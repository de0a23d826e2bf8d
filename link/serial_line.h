#pragma once

#include <cstdint>
#include <span>

namespace kelvane {

// How long a read waits for the drive's next byte before it counts as silence.
inline constexpr int READ_SILENCE_MS = 200;
inline constexpr int HANG_UP_GRACE_MS = 500;

enum class ReadOutcome { Byte, Silence, Failure };

// The open line to one drive, bytes only: what the frame exchange, the block
// passes and the procedures need of it. The serial port is one; a drive
// simulated in the same process stands in for it where a test needs a drive
// that misbehaves on a given request without a port and a second program.
class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Blocks until every byte has left the line, not merely until the system
  // has taken them: the drive's 200 ms to answer start once it has the whole
  // request. False when the write fails.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
  // One byte from the drive; Silence after READ_SILENCE_MS without input.
  virtual ReadOutcome ReadByte(std::uint8_t& byte) = 0;

  // True once a read or a write found the device itself gone (a USB adapter
  // pulled out or powered off with the drive): nothing more is tried on it,
  // as no retry can bring it back.
  virtual bool DeviceGone() const = 0;
  // DeviceGone, once more at the end of a failed run, for a line whose
  // system may notice a loss only a moment after the last silence.
  virtual bool WaitForHangUp() { return DeviceGone(); }
};

}  // namespace kelvane
