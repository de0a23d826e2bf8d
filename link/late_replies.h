#pragma once

#include <chrono>
#include <cstddef>

#include "link/frame_exchange.h"

namespace kelvane {

// How long the line must stay quiet for the late replies to be over, and how
// long they are waited for at most: a line that never goes quiet is left to
// the exchanges, which hunt through whatever comes.
inline constexpr std::chrono::milliseconds LATE_REPLY_QUIET{READ_SILENCE_MS};
inline constexpr std::chrono::milliseconds LATE_REPLY_LIMIT{1000};

// An identify request that timed out may still be answered, after the next
// one was sent; nothing in a reply says which request it answers, so each
// later exchange would read the reply meant for the one before. Reads and
// drops what the drive sends until the line has been quiet for
// LATE_REPLY_QUIET, for at most LATE_REPLY_LIMIT or EXCHANGE_BYTE_BUDGET
// bytes. Returns how many bytes it dropped.
std::size_t DiscardLateReplies(FrameExchange& link);

}  // namespace kelvane
