#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/serial_port.h"

namespace kelvane {

// LinkResult values. Any other value is the non-zero status byte of a
// complete reply; a drive status of 1, 16 or 18 reads like these.
inline constexpr int LINK_OK = 0;
inline constexpr int LINK_DATA_CHECKSUM = 1;
inline constexpr int LINK_NO_REPLY = 16;
inline constexpr int LINK_PORT_ERROR = 18;

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
  // Returned by Feed while the frame is not complete.
  static constexpr int RECEIVING = -1;

  explicit ReplyReceiver(ReplyBuffer& buffer) : buffer_(buffer) {}

  // RECEIVING, or the exchange's LinkResult once the frame is complete.
  int Feed(std::uint8_t byte);
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

// Reads the line until one reply is complete into `reply`.
int ReceiveReply(SerialPort& port, ReplyBuffer& reply);

// One request and its reply. On LINK_OK `replyPayload` views the reply payload
// in port.reply, valid until the next exchange; otherwise it is left alone.
int Transact(SerialPort& port, int command, std::span<const std::uint8_t> payload,
             std::span<const std::uint8_t>& replyPayload);
int TransactEmpty(SerialPort& port, int command, std::span<const std::uint8_t>& replyPayload);

}  // namespace kelvane
