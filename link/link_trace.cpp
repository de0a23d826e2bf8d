#include "link/link_trace.h"

#include <utility>

#include "link/drive_commands.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// The command byte stands at the same offset in requests and replies.
constexpr std::size_t COMMAND_OFFSET = 4;

void PrintCommand(std::FILE* out, int command) {
  switch (command) {
    case CMD_IDENTIFY:
      std::fputs("IDENTIFY", out);
      break;
    case CMD_WRITE_BLOCK:
      std::fputs("WRITE_BLOCK", out);
      break;
    case CMD_READ_BLOCK:
      std::fputs("READ_BLOCK", out);
      break;
    default:
      std::fprintf(out, "command 0x%02X", static_cast<unsigned>(command));
      break;
  }
}

}  // namespace

LinkTrace::LinkTrace(std::FILE* out, std::string label)
    : out_(out), label_(std::move(label)), start_(std::chrono::steady_clock::now()) {}

void LinkTrace::Stamp() {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_);
  std::fprintf(out_, "%s%7lld ms ", label_.c_str(), static_cast<long long>(elapsed.count()));
}

void LinkTrace::Hex(std::span<const std::uint8_t> bytes) {
  const char* separator = "";
  for (const std::uint8_t byte : bytes) {
    std::fprintf(out_, "%s%02X", separator, static_cast<unsigned>(byte));
    separator = " ";
  }
}

void LinkTrace::Request(std::span<const std::uint8_t> frame) {
  received_.clear();
  command_ = frame.size() > COMMAND_OFFSET ? frame[COMMAND_OFFSET] : 0;
  Stamp();
  std::fputs("-> ", out_);
  PrintCommand(out_, command_);
  std::fputs("  ", out_);
  Hex(frame);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void LinkTrace::Received(std::uint8_t byte) {
  received_.push_back(byte);
}

void LinkTrace::Reply(bool payloadChecksumWrong, std::size_t frameLength) {
  const std::span<const std::uint8_t> all(received_);
  const std::size_t skipped = all.size() > frameLength ? all.size() - frameLength : 0;
  const auto frame = all.subspan(skipped);
  if (skipped > 0) {
    // Noise, a decoy header or the tail of an earlier reply.
    Stamp();
    std::fprintf(out_, "-- %zu bytes skipped before the reply: ", skipped);
    Hex(all.first(skipped));
    std::fputs("\n", out_);
  }
  Stamp();
  std::fputs("<- ", out_);
  PrintCommand(out_, frame.size() > COMMAND_OFFSET ? frame[COMMAND_OFFSET] : command_);
  std::fputs("  ", out_);
  Hex(frame);
  if (payloadChecksumWrong) std::fputs("  (payload checksum wrong)", out_);
  std::fputs("\n", out_);
  received_.clear();
  std::fflush(out_);
}

void LinkTrace::Silence() {
  Stamp();
  std::fprintf(out_, "-- %d ms of silence, no reply to ", READ_SILENCE_MS);
  PrintCommand(out_, command_);
  std::fprintf(out_, " (%zu bytes received)\n", received_.size());
  std::fflush(out_);
}

void LinkTrace::ReadFailure() {
  Stamp();
  std::fputs("-- read failed, no reply to ", out_);
  PrintCommand(out_, command_);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void LinkTrace::ByteBudgetSpent(int bytes) {
  Stamp();
  std::fprintf(out_, "-- %d bytes without a complete reply to ", bytes);
  PrintCommand(out_, command_);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void LinkTrace::NoIdentity(std::size_t bytes, std::size_t shortest) {
  Stamp();
  std::fprintf(out_,
               "-- a reply of %zu bytes is no identity of at least %zu: it answers another "
               "request\n",
               bytes, shortest);
  std::fflush(out_);
}

void LinkTrace::LateReplyDiscarded(std::size_t bytes) {
  Stamp();
  std::fprintf(out_, "-- %zu bytes of a late reply discarded\n", bytes);
  std::fflush(out_);
}

}  // namespace kelvane
