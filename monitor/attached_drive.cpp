#include "monitor/attached_drive.h"

namespace kelvane::sim {

bool AttachedDrive::Write(std::span<const std::uint8_t> bytes) {
  if (gone_) return false;
  const std::optional<std::uint64_t> hangupAfter = monitor_.faults().hangupAfter();
  for (std::uint8_t byte : bytes) {
    if (hangingUp_) break;  // a drive that hangs up hears nothing more
    const ParseEvent event = parser_.Feed(byte);
    if (event == ParseEvent::BadHeader || event == ParseEvent::BadPayloadChecksum) {
      log_.push_back(DriveMonitor::DescribeDroppedFrame(event));
      continue;
    }
    if (event != ParseEvent::Frame) continue;
    const MonitorAnswer answer = monitor_.Handle(parser_.frame());
    log_.push_back(answer.logLine);
    // Replies leave in the order of their requests, even behind a late one.
    std::deque<std::uint8_t>& queue = answer.late || !late_.empty() ? late_ : replies_;
    if (!answer.silent) queue.insert(queue.end(), answer.bytes.begin(), answer.bytes.end());
    hangingUp_ = hangupAfter && monitor_.requestsReceived() >= *hangupAfter;
  }
  return true;
}

ReadOutcome AttachedDrive::ReadByte(std::uint8_t& byte) {
  if (gone_) return ReadOutcome::Failure;
  if (replies_.empty()) {
    replies_.swap(late_);
    // What was sent before the hang-up is read first, as a drained line's.
    if (replies_.empty() && hangingUp_) {
      gone_ = true;
      return ReadOutcome::Failure;
    }
    return ReadOutcome::Silence;
  }
  byte = replies_.front();
  replies_.pop_front();
  return ReadOutcome::Byte;
}

}  // namespace kelvane::sim
