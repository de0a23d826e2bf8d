// Line noise byte by byte: no store past the buffer, only defined results.
#include <cstdint>

#include "link/frame_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::ReplyBuffer reply;
  std::size_t position = 0;
  while (position < size) {
    kelvane::ReplyReceiver receiver(reply);
    std::optional<kelvane::LinkResult> result;
    while (position < size && !result) result = receiver.Feed(data[position++]);
    if (result && result->ok() && reply.length > kelvane::REPLY_PAYLOAD_CAPACITY) __builtin_trap();
    if (result && *result != kelvane::LINK_DATA_CHECKSUM &&
        *result != kelvane::LinkResult::FromStatus(reply.status))
      __builtin_trap();
  }
  return 0;
}
