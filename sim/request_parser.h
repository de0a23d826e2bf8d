#pragma once

#include <cstdint>
#include <vector>

namespace kelvane::sim {

// The monitor's receive buffer: a header announcing a longer payload is taken
// for line noise, so a corrupted length cannot swallow the frames after it.
inline constexpr std::uint32_t MAX_ACCEPTED_PAYLOAD = 512;

struct Request {
  std::uint8_t command = 0;
  std::vector<std::uint8_t> payload;
  // Bytes the frame took on the line, checksums included.
  std::uint32_t frameSize = 0;
};

enum class ParseEvent {
  None,                // frame not complete yet
  Request,             // a complete frame with good checksums
  BadHeader,           // header checksum wrong (or length too big): hunting again
  BadPayloadChecksum,  // payload checksum wrong: the frame is dropped
};

// Assembles request frames from the line one byte at a time:
// 55 AA len-lo len-hi command header-sum payload payload-sum, where
// header-sum = len-lo + len-hi + command and payload-sum = sum of the
// payload (mod 256). A frame without payload has no payload-sum.
class RequestParser {
 public:
  ParseEvent Feed(std::uint8_t byte);

  // The last complete request; valid after Feed returned ParseEvent::Request.
  const Request& request() const { return request_; }

  // True while part of a frame has been taken in.
  bool InFrame() const { return state_ != State::Sync1; }

  // Forgets a partial frame (the monitor's receive timeout).
  void Reset() { state_ = State::Sync1; }

 private:
  enum class State { Sync1, Sync2, LengthLow, LengthHigh, Command, HeaderSum, Payload, PayloadSum };

  State state_ = State::Sync1;
  std::uint32_t length_ = 0;
  std::uint8_t sum_ = 0;
  Request request_;
};

}  // namespace kelvane::sim
