#include "link/drive_commands.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kelvane {

std::uint8_t* ByteSwap32InPlace(std::uint8_t* word) {
  std::swap(word[0], word[3]);
  std::swap(word[1], word[2]);
  return word;
}

std::uint32_t ByteSwap32(std::uint32_t value) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &value, sizeof bytes);
  ByteSwap32InPlace(bytes);
  std::memcpy(&value, bytes, sizeof bytes);
  return value;
}

// Fields are laid out byte by byte, least significant first, and turned
// around for the families that want them the other way; so the result is the
// same whatever the byte order of the PC the loader runs on.
void StoreWord32(std::span<std::uint8_t, 4> at, std::uint32_t value, ByteOrder order) {
  for (std::size_t i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  if (order == ByteOrder::MostSignificantFirst) ByteSwap32InPlace(at.data());
}

std::uint32_t LoadWord32(std::span<const std::uint8_t, 4> at, ByteOrder order) {
  std::uint8_t bytes[4];
  std::copy(at.begin(), at.end(), bytes);
  if (order == ByteOrder::MostSignificantFirst) ByteSwap32InPlace(bytes);
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return value;
}

std::size_t BuildWriteBlockRequest(std::span<std::uint8_t> request, std::uint32_t address,
                                   ByteOrder order, std::span<const std::uint8_t> block) {
  const std::size_t length = 4 + block.size();
  if (request.size() < length) return 0;
  StoreWord32(request.first<4>(), address, order);
  std::copy(block.begin(), block.end(), request.begin() + 4);
  return length;
}

std::size_t BuildReadBlockRequest(std::span<std::uint8_t> request, std::uint32_t address,
                                  ByteOrder order, std::uint32_t length,
                                  std::size_t lengthFieldBytes) {
  // The drives read with a 16-bit count, the TK720 with a 32-bit one; a count
  // that does not fit its field would silently ask for the wrong amount.
  const bool fits = lengthFieldBytes == 4 || (lengthFieldBytes == 2 && length <= 0xFFFF);
  const std::size_t payloadLength = 4 + lengthFieldBytes;
  if (!fits || request.size() < payloadLength) return 0;
  StoreWord32(request.first<4>(), address, order);
  if (lengthFieldBytes == 4) {
    StoreWord32(request.subspan<4, 4>(), length, order);
  } else {
    const auto low = static_cast<std::uint8_t>(length & 0xFF);
    const auto high = static_cast<std::uint8_t>(length >> 8);
    request[4] = order == ByteOrder::MostSignificantFirst ? high : low;
    request[5] = order == ByteOrder::MostSignificantFirst ? low : high;
  }
  return payloadLength;
}

}  // namespace kelvane
