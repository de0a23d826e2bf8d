#include "sim/request_parser.h"

namespace kelvane::sim {

ParseEvent RequestParser::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::Sync1:
      if (byte == 0x55) state_ = State::Sync2;
      return ParseEvent::None;
    case State::Sync2:
      // 55 55 AA: the second 0x55 may itself start the preamble.
      if (byte == 0xAA) {
        state_ = State::LengthLow;
      } else if (byte != 0x55) {
        state_ = State::Sync1;
      }
      return ParseEvent::None;
    case State::LengthLow:
      length_ = byte;
      state_ = State::LengthHigh;
      return ParseEvent::None;
    case State::LengthHigh:
      length_ |= std::uint32_t{byte} << 8;
      state_ = State::Command;
      return ParseEvent::None;
    case State::Command:
      request_.command = byte;
      state_ = State::HeaderSum;
      return ParseEvent::None;
    case State::HeaderSum: {
      const std::uint8_t expected =
          static_cast<std::uint8_t>((length_ & 0xFF) + (length_ >> 8) + request_.command);
      if (byte != expected || length_ > MAX_ACCEPTED_PAYLOAD) {
        state_ = State::Sync1;
        return ParseEvent::BadHeader;
      }
      request_.payload.clear();
      sum_ = 0;
      if (length_ == 0) {
        request_.frameSize = 6;
        state_ = State::Sync1;
        return ParseEvent::Request;
      }
      state_ = State::Payload;
      return ParseEvent::None;
    }
    case State::Payload:
      request_.payload.push_back(byte);
      sum_ = static_cast<std::uint8_t>(sum_ + byte);
      if (request_.payload.size() == length_) state_ = State::PayloadSum;
      return ParseEvent::None;
    case State::PayloadSum:
      state_ = State::Sync1;
      if (byte != sum_) return ParseEvent::BadPayloadChecksum;
      request_.frameSize = 7 + length_;
      return ParseEvent::Request;
  }
  return ParseEvent::None;
}

}  // namespace kelvane::sim
