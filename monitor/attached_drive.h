#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "link/serial_line.h"
#include "monitor/drive_monitor.h"
#include "monitor/frame_codec.h"

namespace kelvane::sim {

// The simulated drive attached to the loader's side of a line in the same
// process, with no port and no second program: a request written is answered
// at once by the monitor, faults of its plan included, so a test of the block
// passes or the procedures takes microseconds and fails on the request it
// chose. Time does not pass here: the 200 ms of silence are one read that
// finds nothing, and a --late reply arrives after that one silence.
class AttachedDrive final : public SerialLine {
 public:
  explicit AttachedDrive(DriveMonitor monitor) : monitor_(std::move(monitor)) {}

  DriveMonitor& monitor() { return monitor_; }
  // The log line of every request received, in order, as --log writes them.
  const std::vector<std::string>& log() const { return log_; }

  bool Write(std::span<const std::uint8_t> bytes) override;
  ReadOutcome ReadByte(std::uint8_t& byte) override;
  bool DeviceGone() const override { return gone_; }

 private:
  DriveMonitor monitor_;
  FrameParser parser_;
  std::deque<std::uint8_t> replies_;
  // Late replies, sent once the loader has met the silence they leave.
  std::deque<std::uint8_t> late_;
  std::vector<std::string> log_;
  bool hangingUp_ = false;
  bool gone_ = false;
};

}  // namespace kelvane::sim
