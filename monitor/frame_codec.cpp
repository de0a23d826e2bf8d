#include "monitor/frame_codec.h"

namespace kelvane::sim {

namespace {

std::uint8_t Preamble(FrameKind kind, int index) {
  const bool request = kind == FrameKind::Request;
  return index == 0 ? (request ? 0x55 : 0xAA) : (request ? 0xAA : 0x55);
}

std::vector<std::uint8_t> BuildFrame(FrameKind kind, std::uint8_t command, std::uint8_t status,
                                     std::span<const std::uint8_t> payload) {
  const auto length = static_cast<std::uint16_t>(payload.size());
  std::vector<std::uint8_t> frame = {Preamble(kind, 0), Preamble(kind, 1),
                                     static_cast<std::uint8_t>(length & 0xFF),
                                     static_cast<std::uint8_t>(length >> 8), command};
  if (kind == FrameKind::Reply) frame.push_back(status);
  std::uint8_t sum = 0;
  for (std::size_t i = 2; i < frame.size(); ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
  frame.push_back(sum);
  if (payload.empty()) return frame;
  sum = 0;
  for (std::uint8_t byte : payload) {
    frame.push_back(byte);
    sum = static_cast<std::uint8_t>(sum + byte);
  }
  frame.push_back(sum);
  return frame;
}

}  // namespace

ParseEvent FrameParser::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::Sync1:
      if (byte == Preamble(kind_, 0)) state_ = State::Sync2;
      return ParseEvent::None;
    case State::Sync2:
      // 55 55 AA: the repeated first byte may itself start the preamble.
      if (byte == Preamble(kind_, 1)) {
        state_ = State::LengthLow;
        sum_ = 0;
      } else if (byte != Preamble(kind_, 0)) {
        state_ = State::Sync1;
      }
      return ParseEvent::None;
    case State::LengthLow:
      length_ = byte;
      sum_ = byte;
      state_ = State::LengthHigh;
      return ParseEvent::None;
    case State::LengthHigh:
      length_ |= std::uint32_t{byte} << 8;
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      state_ = State::Command;
      return ParseEvent::None;
    case State::Command:
      frame_.command = byte;
      frame_.status = 0;
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      state_ = kind_ == FrameKind::Reply ? State::Status : State::HeaderSum;
      return ParseEvent::None;
    case State::Status:
      frame_.status = byte;
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      state_ = State::HeaderSum;
      return ParseEvent::None;
    case State::HeaderSum: {
      const bool tooLong = kind_ == FrameKind::Request && length_ > MAX_ACCEPTED_PAYLOAD;
      if (byte != sum_ || tooLong) {
        state_ = State::Sync1;
        return ParseEvent::BadHeader;
      }
      const std::uint32_t headerSize = kind_ == FrameKind::Reply ? 7 : 6;
      frame_.payload.clear();
      sum_ = 0;
      if (length_ == 0) {
        frame_.frameSize = headerSize;
        state_ = State::Sync1;
        return ParseEvent::Frame;
      }
      frame_.frameSize = headerSize + length_ + 1;
      state_ = State::Payload;
      return ParseEvent::None;
    }
    case State::Payload:
      frame_.payload.push_back(byte);
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      if (frame_.payload.size() == length_) state_ = State::PayloadSum;
      return ParseEvent::None;
    case State::PayloadSum:
      state_ = State::Sync1;
      return byte == sum_ ? ParseEvent::Frame : ParseEvent::BadPayloadChecksum;
  }
  return ParseEvent::None;
}

std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t command,
                                            std::span<const std::uint8_t> payload) {
  return BuildFrame(FrameKind::Request, command, 0, payload);
}

std::vector<std::uint8_t> BuildReplyFrame(std::uint8_t command, std::uint8_t status,
                                          std::span<const std::uint8_t> payload) {
  return BuildFrame(FrameKind::Reply, command, status, payload);
}

bool CorruptPayloadChecksum(std::vector<std::uint8_t>& frame) {
  if (frame.size() <= 7) return false;
  frame.back() = static_cast<std::uint8_t>(frame.back() ^ 0x5A);
  return true;
}

std::vector<std::uint8_t> BuildBadHeaderFrame(std::uint8_t command, std::uint8_t status,
                                              std::uint16_t length) {
  if (length == 0) length = 1;
  const auto low = static_cast<std::uint8_t>(length & 0xFF);
  const auto high = static_cast<std::uint8_t>(length >> 8);
  return {0xAA,
          0x55,
          low,
          high,
          command,
          status,
          static_cast<std::uint8_t>(low + high + command + status + 1)};
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
