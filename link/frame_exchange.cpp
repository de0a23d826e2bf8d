#include "link/frame_exchange.h"

#include <algorithm>
#include <array>

#include "link/link_trace.h"

namespace kelvane {

namespace {

// Replies start with the mirror image of the request preamble.
constexpr std::uint8_t REPLY_SYNC_1 = 0xAA;
constexpr std::uint8_t REPLY_SYNC_2 = 0x55;

std::uint8_t Low(std::size_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}
std::uint8_t High(std::size_t value) {
  return static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

int LinkResult::code() const {
  switch (kind) {
    case Kind::Ok:
      return 0;
    case Kind::DataChecksum:
      return 1;
    case Kind::NoReply:
      return 16;
    case Kind::PortError:
      return 18;
    case Kind::DriveStatus:
      break;
  }
  return driveStatus;
}

std::optional<LinkResult> ReplyReceiver::Feed(std::uint8_t byte) {
  switch (state_) {
    case ReceiveState::HuntSync1:
      if (byte == REPLY_SYNC_1) state_ = ReceiveState::HuntSync2;
      return std::nullopt;
    case ReceiveState::HuntSync2:
      // The byte is not looked at again: in AA AA 55 the second AA only ends
      // the failed preamble, and the 55 after it is hunted past as noise.
      state_ = byte == REPLY_SYNC_2 ? ReceiveState::LengthLow : ReceiveState::HuntSync1;
      return std::nullopt;
    case ReceiveState::LengthLow:
      buffer_.length = byte;
      state_ = ReceiveState::LengthHigh;
      return std::nullopt;
    case ReceiveState::LengthHigh:
      buffer_.length = static_cast<std::uint16_t>(buffer_.length + 256 * byte);
      state_ = ReceiveState::CommandByte;
      return std::nullopt;
    case ReceiveState::CommandByte:
      buffer_.command = byte;
      state_ = ReceiveState::StatusByte;
      return std::nullopt;
    case ReceiveState::StatusByte:
      buffer_.status = byte;
      state_ = ReceiveState::HeaderCheck;
      return std::nullopt;
    case ReceiveState::HeaderCheck: {
      const std::uint8_t expected = static_cast<std::uint8_t>(
          Low(buffer_.length) + High(buffer_.length) + buffer_.command + buffer_.status);
      // A wrong checksum, or a length no reply of the drive can have (it would
      // not fit the buffer), means this was not a header after all: the
      // "preamble" was noise, so look for the real one in what follows.
      if (byte != expected || buffer_.length > REPLY_PAYLOAD_CAPACITY) {
        state_ = ReceiveState::HuntSync1;
        return std::nullopt;
      }
      if (buffer_.length == 0) {
        // No payload and no payload checksum: the status is the whole answer.
        state_ = ReceiveState::HuntSync1;
        return LinkResult::FromStatus(buffer_.status);
      }
      payloadIndex_ = 0;
      payloadSum_ = 0;
      state_ = ReceiveState::PayloadBytes;
      return std::nullopt;
    }
    case ReceiveState::PayloadBytes:
      // The checksum byte lands in data[length] too; length <= 299 keeps it
      // inside the 300-byte area.
      buffer_.data[payloadIndex_] = byte;
      if (payloadIndex_ == buffer_.length) {
        state_ = ReceiveState::HuntSync1;
        return byte == payloadSum_ ? LinkResult::FromStatus(buffer_.status) : LINK_DATA_CHECKSUM;
      }
      payloadSum_ = static_cast<std::uint8_t>(payloadSum_ + byte);
      ++payloadIndex_;
      return std::nullopt;
  }
  state_ = ReceiveState::HuntSync1;
  return std::nullopt;
}

std::size_t EncodeRequestFrame(std::uint32_t preamble, int command,
                               std::span<const std::uint8_t> payload,
                               std::span<std::uint8_t, MAX_REQUEST_FRAME> frame) {
  if (payload.size() > MAX_REQUEST_PAYLOAD) return 0;
  const std::size_t n = payload.size();
  frame[0] = Low(preamble);
  frame[1] = High(preamble);
  frame[2] = Low(n);
  frame[3] = High(n);
  frame[4] = static_cast<std::uint8_t>(command & 0xFF);
  frame[5] = static_cast<std::uint8_t>(frame[2] + frame[3] + frame[4]);
  if (n == 0) return 6;  // no payload, so no payload checksum either
  std::copy(payload.begin(), payload.end(), frame.begin() + 6);
  std::uint8_t sum = 0;
  for (std::uint8_t b : payload) sum = static_cast<std::uint8_t>(sum + b);
  frame[6 + n] = sum;
  return 6 + n + 1;
}

LinkResult FrameExchange::ReceiveReply() {
  ReplyReceiver receiver(reply_);
  // A line that never stops talking but never forms a frame (wrong baud rate,
  // another device) must not hold the loader forever: give up after a budget.
  for (int taken = 0; taken < EXCHANGE_BYTE_BUDGET; ++taken) {
    std::uint8_t byte = 0;
    const ReadOutcome outcome = line_.ReadByte(byte);
    if (outcome != ReadOutcome::Byte) {
      if (trace_ != nullptr && outcome == ReadOutcome::Silence) trace_->Silence();
      if (trace_ != nullptr && outcome == ReadOutcome::Failure) trace_->ReadFailure();
      return LINK_NO_REPLY;
    }
    if (trace_ != nullptr) trace_->Received(byte);
    if (const std::optional<LinkResult> result = receiver.Feed(byte)) {
      // Header with its checksum, then the payload and its checksum if any.
      if (trace_ != nullptr)
        trace_->Reply(*result == LINK_DATA_CHECKSUM, reply_.length == 0 ? 7 : 8 + reply_.length);
      return *result;
    }
  }
  if (trace_ != nullptr) trace_->ByteBudgetSpent(EXCHANGE_BYTE_BUDGET);
  return LINK_NO_REPLY;
}

LinkResult FrameExchange::Transact(int command, std::span<const std::uint8_t> payload,
                                   std::span<const std::uint8_t>& replyPayload) {
  if (payload.size() > MAX_REQUEST_PAYLOAD) return LINK_PORT_ERROR;
  std::array<std::uint8_t, MAX_REQUEST_FRAME> frame{};
  const std::size_t frameLength = EncodeRequestFrame(preamble_, command, payload, frame);
  // One write of the whole frame: the drive sees the same bytes as from
  // field-by-field writes, in one burst. Whatever the line still holds from an
  // earlier exchange stays queued and is hunted through by the receiver.
  if (trace_ != nullptr) trace_->Request(std::span(frame.data(), frameLength));
  if (!line_.Write(std::span<const std::uint8_t>(frame.data(), frameLength))) {
    return LINK_PORT_ERROR;
  }
  const LinkResult result = ReceiveReply();
  if (result != LINK_OK) return result;
  replyPayload = std::span<const std::uint8_t>(reply_.data.data(), reply_.length);
  return LINK_OK;
}

}  // namespace kelvane
