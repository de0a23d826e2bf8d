#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "link/serial_line.h"

namespace kelvane {

class LinkTrace;

// The header fields and payload of the last reply the drive sent. The payload
// is followed by its checksum byte, so `data` holds at most 299 payload bytes.
struct ReplyBuffer {
  std::uint16_t length = 0;
  std::uint8_t command = 0;
  std::uint8_t status = 0;
  std::array<std::uint8_t, 300> data{};
};

inline constexpr std::size_t REPLY_PAYLOAD_CAPACITY = 299;

// How one exchange ended: the drive's answer, or what kept it from coming.
// A drive's non-zero status byte is told apart from the loader's own
// outcomes even where the messages show the same number (a drive status of
// 16 is not a missing reply).
struct LinkResult {
  enum class Kind { Ok, DataChecksum, NoReply, PortError, DriveStatus };
  Kind kind = Kind::Ok;
  std::uint8_t driveStatus = 0;  // the reply's status byte, for DriveStatus

  bool ok() const { return kind == Kind::Ok; }
  // The number the messages show: 0, 1, 16, 18, or the drive's status byte.
  int code() const;
  static constexpr LinkResult FromStatus(std::uint8_t status) {
    return status == 0 ? LinkResult{} : LinkResult{Kind::DriveStatus, status};
  }
  friend bool operator==(const LinkResult&, const LinkResult&) = default;
};

inline constexpr LinkResult LINK_OK{LinkResult::Kind::Ok};
inline constexpr LinkResult LINK_DATA_CHECKSUM{LinkResult::Kind::DataChecksum};
inline constexpr LinkResult LINK_NO_REPLY{LinkResult::Kind::NoReply};
inline constexpr LinkResult LINK_PORT_ERROR{LinkResult::Kind::PortError};

// The longest request the loader sends: 6 header bytes, a 260-byte write
// payload and its checksum.
inline constexpr std::size_t MAX_REQUEST_PAYLOAD = 260;
inline constexpr std::size_t MAX_REQUEST_FRAME = 6 + MAX_REQUEST_PAYLOAD + 1;

// A line that keeps delivering bytes without ever completing a frame ends the
// exchange after this many bytes, many times the longest reply frame (307).
inline constexpr int EXCHANGE_BYTE_BUDGET = 4096;

enum class ReceiveState {
  HuntSync1 = 0,
  HuntSync2 = 1,
  LengthLow = 2,
  LengthHigh = 3,
  CommandByte = 4,
  StatusByte = 5,
  HeaderCheck = 6,
  PayloadBytes = 7,
};

// Assembles one reply frame from the bytes of the line, fed one at a time.
class ReplyReceiver {
 public:
  explicit ReplyReceiver(ReplyBuffer& buffer) : buffer_(buffer) {}

  // Nothing while the frame is not complete, then the exchange's LinkResult.
  std::optional<LinkResult> Feed(std::uint8_t byte);
  ReceiveState state() const { return state_; }

 private:
  ReplyBuffer& buffer_;
  ReceiveState state_ = ReceiveState::HuntSync1;
  std::size_t payloadIndex_ = 0;
  std::uint8_t payloadSum_ = 0;
};

// Lays out the request frame for `command` and `payload` (at most
// MAX_REQUEST_PAYLOAD bytes) into `frame`; returns the frame's length.
std::size_t EncodeRequestFrame(std::uint32_t preamble, int command,
                               std::span<const std::uint8_t> payload,
                               std::span<std::uint8_t, MAX_REQUEST_FRAME> frame);

// The protocol spoken over one open line to a drive: the preamble requests
// start with, the reply last received, and the trace the exchanges report to
// (none unless the run asked for one). Requests and replies alternate, one
// exchange at a time.
class FrameExchange {
 public:
  explicit FrameExchange(SerialLine& line, LinkTrace* trace = nullptr)
      : line_(line), trace_(trace) {}
  FrameExchange(const FrameExchange&) = delete;
  FrameExchange& operator=(const FrameExchange&) = delete;

  SerialLine& line() const { return line_; }
  LinkTrace* trace() const { return trace_; }

  // One request and its reply. On LINK_OK `replyPayload` views the reply's
  // payload, valid until the next exchange; otherwise it is left alone.
  LinkResult Transact(int command, std::span<const std::uint8_t> payload,
                      std::span<const std::uint8_t>& replyPayload);
  LinkResult TransactEmpty(int command, std::span<const std::uint8_t>& replyPayload) {
    return Transact(command, {}, replyPayload);
  }

 private:
  // Reads the line until one reply is complete.
  LinkResult ReceiveReply();

  SerialLine& line_;
  LinkTrace* trace_;
  // Requests start with this value's two low bytes, low byte first.
  std::uint32_t preamble_ = 0xAA55;
  ReplyBuffer reply_;
};

}  // namespace kelvane
