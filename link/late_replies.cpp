#include "link/late_replies.h"

#include <cstdint>

#include "link/link_trace.h"

namespace kelvane {

std::size_t DiscardLateReplies(FrameExchange& link) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + LATE_REPLY_LIMIT;
  std::size_t dropped = 0;
  std::uint8_t byte = 0;
  // ReadByte waits READ_SILENCE_MS for a byte, so its silence is the quiet.
  while (dropped < static_cast<std::size_t>(EXCHANGE_BYTE_BUDGET) && Clock::now() < deadline &&
         link.line().ReadByte(byte) == ReadOutcome::Byte) {
    ++dropped;
  }
  if (dropped > 0 && link.trace() != nullptr) link.trace()->LateReplyDiscarded(dropped);
  return dropped;
}

}  // namespace kelvane
