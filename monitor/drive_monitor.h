#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/family_layout.h"
#include "monitor/fault_plan.h"
#include "monitor/flash_model.h"
#include "monitor/frame_codec.h"
#include "monitor/identity.h"

namespace kelvane::sim {

// Command bytes the monitor understands.
inline constexpr std::uint8_t COMMAND_IDENTIFY = 0x10;
inline constexpr std::uint8_t COMMAND_WRITE_BLOCK = 0x11;
inline constexpr std::uint8_t COMMAND_READ_BLOCK = 0x12;

// The monitor's answer to one request.
struct MonitorAnswer {
  bool silent = false;
  // Everything to send, in order: noise, a bad-header frame, the reply frame.
  std::vector<std::uint8_t> bytes;
  bool late = false;
  // One line for the request log, without line end, e.g.
  // "WRITE 0x00004300 256 status 0" or "IDENTIFY silent".
  std::string logLine;
};

// The drive's monitor: turns each request into its reply and keeps the
// flash. No I/O here, so every behaviour can be driven from a test.
class DriveMonitor {
 public:
  DriveMonitor(SimFamily family, IdentityConfig identity, FaultPlan faults);

  FlashModel& flash() { return flash_; }
  const FlashModel& flash() const { return flash_; }
  const FaultPlan& faults() const { return faults_; }
  std::uint64_t requestsReceived() const { return requests_; }
  // Requests that a fault of the plan answered in the monitor's place or
  // spoiled (stuck cells aside: they are the flash's, not a request's).
  std::uint64_t faultsInjected() const { return faultsInjected_; }

  MonitorAnswer Handle(const Frame& request);

  // The log line of a frame dropped for a bad checksum. Such frames are not
  // requests: they are not answered and not counted.
  static std::string DescribeDroppedFrame(ParseEvent event);

 private:
  std::uint32_t Field(const std::vector<std::uint8_t>& payload, std::size_t offset,
                      std::uint32_t size) const;

  SimFamily family_;
  IdentityConfig identity_;
  FaultPlan faults_;
  FlashModel flash_;
  std::uint64_t requests_ = 0;
  std::uint64_t identifies_ = 0;
  std::uint64_t writes_ = 0;
  std::uint64_t reads_ = 0;
  std::uint64_t faultsInjected_ = 0;
};

}  // namespace kelvane::sim
