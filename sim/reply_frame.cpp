#include "sim/reply_frame.h"

namespace kelvane::sim {

namespace {

std::uint8_t HeaderSum(std::uint16_t length, std::uint8_t command, std::uint8_t status) {
  return static_cast<std::uint8_t>((length & 0xFF) + (length >> 8) + command + status);
}

}  // namespace

std::vector<std::uint8_t> BuildReplyFrame(std::uint8_t command, std::uint8_t status,
                                          std::span<const std::uint8_t> payload) {
  const auto length = static_cast<std::uint16_t>(payload.size());
  std::vector<std::uint8_t> frame;
  frame.reserve(8 + payload.size());
  frame.push_back(0xAA);
  frame.push_back(0x55);
  frame.push_back(static_cast<std::uint8_t>(length & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(length >> 8));
  frame.push_back(command);
  frame.push_back(status);
  frame.push_back(HeaderSum(length, command, status));
  if (payload.empty()) return frame;
  std::uint8_t sum = 0;
  for (std::uint8_t byte : payload) {
    frame.push_back(byte);
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  frame.push_back(sum);
  return frame;
}

bool CorruptPayloadChecksum(std::vector<std::uint8_t>& frame) {
  if (frame.size() <= 7) return false;
  frame.back() = static_cast<std::uint8_t>(frame.back() ^ 0x5A);
  return true;
}

std::vector<std::uint8_t> BuildBadHeaderFrame(std::uint8_t command, std::uint8_t status,
                                              std::uint16_t length) {
  if (length == 0) length = 1;
  return {0xAA,
          0x55,
          static_cast<std::uint8_t>(length & 0xFF),
          static_cast<std::uint8_t>(length >> 8),
          command,
          status,
          static_cast<std::uint8_t>(HeaderSum(length, command, status) + 1)};
}

std::vector<std::uint8_t> NoiseBytes(std::size_t count) {
  std::vector<std::uint8_t> noise;
  noise.reserve(count);
  std::uint8_t value = 0x13;
  while (noise.size() < count) {
    // A fixed walk through the byte values, skipping the preamble's first byte.
    value = static_cast<std::uint8_t>(value * 5 + 0x3B);
    if (value != 0xAA) noise.push_back(value);
  }
  return noise;
}

}  // namespace kelvane::sim
