#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvane::sim {

// The frames on the line, both ways, written independently of the loader's
// own code so that each checks the other:
//   request  55 AA len-lo len-hi command header-sum [payload payload-sum]
//   reply    AA 55 len-lo len-hi command status header-sum [payload payload-sum]
// header-sum is the sum of the header bytes after the preamble, payload-sum
// the sum of the payload (both mod 256); a frame without payload ends at
// header-sum.
enum class FrameKind { Request, Reply };

// The monitor's receive buffer: a request header announcing a longer payload
// is taken for line noise, so a corrupted length cannot swallow the frames
// after it.
inline constexpr std::uint32_t MAX_ACCEPTED_PAYLOAD = 512;

struct Frame {
  std::uint8_t command = 0;
  std::uint8_t status = 0;  // replies only
  std::vector<std::uint8_t> payload;
  // Bytes the frame took on the line, checksums included.
  std::uint32_t frameSize = 0;
};

enum class ParseEvent {
  None,                // frame not complete yet
  Frame,               // a complete frame with good checksums
  BadHeader,           // header checksum wrong (or length too big): hunting again
  BadPayloadChecksum,  // payload checksum wrong: the frame is dropped
};

// Assembles frames of one kind from the line one byte at a time.
class FrameParser {
 public:
  explicit FrameParser(FrameKind kind = FrameKind::Request) : kind_(kind) {}

  ParseEvent Feed(std::uint8_t byte);

  // The last complete frame; valid after Feed returned ParseEvent::Frame.
  const Frame& frame() const { return frame_; }

  // True while part of a frame has been taken in.
  bool InFrame() const { return state_ != State::Sync1; }

  // Forgets a partial frame (the monitor's receive timeout).
  void Reset() { state_ = State::Sync1; }

 private:
  enum class State {
    Sync1,
    Sync2,
    LengthLow,
    LengthHigh,
    Command,
    Status,
    HeaderSum,
    Payload,
    PayloadSum
  };

  FrameKind kind_;
  State state_ = State::Sync1;
  std::uint32_t length_ = 0;
  std::uint8_t sum_ = 0;
  Frame frame_;
};

std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t command,
                                            std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> BuildReplyFrame(std::uint8_t command, std::uint8_t status,
                                          std::span<const std::uint8_t> payload);

// Breaks the payload checksum of a frame from BuildReplyFrame. A frame without
// payload has no payload checksum and is left as it is; false then.
bool CorruptPayloadChecksum(std::vector<std::uint8_t>& frame);

// A reply header whose checksum is wrong, with no payload after it. Its length
// field is never 0, so a receiver has to check the sum and go back to hunting
// for a preamble, which it finds in the true reply sent right after.
std::vector<std::uint8_t> BuildBadHeaderFrame(std::uint8_t command, std::uint8_t status,
                                              std::uint16_t length);

// `count` bytes of line noise that hold no 0xAA at all, so they can neither
// form a reply preamble nor spoil the one that follows them.
std::vector<std::uint8_t> NoiseBytes(std::size_t count);

}  // namespace kelvane::sim
