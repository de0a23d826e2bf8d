// Arbitrary line noise fed to the reply receiver byte by byte: it must never
// store past the reply buffer and must report only the results it defines.
#include <cstdint>

#include "link/frame_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::ReplyBuffer reply;
  std::size_t position = 0;
  while (position < size) {
    kelvane::ReplyReceiver receiver(reply);
    int result = kelvane::ReplyReceiver::RECEIVING;
    while (position < size && result == kelvane::ReplyReceiver::RECEIVING)
      result = receiver.Feed(data[position++]);
    if (result == kelvane::LINK_OK && reply.length > kelvane::REPLY_PAYLOAD_CAPACITY)
      __builtin_trap();
    if (result != kelvane::ReplyReceiver::RECEIVING && result != kelvane::LINK_DATA_CHECKSUM &&
        result != reply.status)
      __builtin_trap();
  }
  return 0;
}
