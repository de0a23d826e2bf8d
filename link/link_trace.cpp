#include "link/link_trace.h"

#include <cstdarg>
#include <utility>

#include "link/drive_commands.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// The command byte stands at the same offset in requests and replies.
constexpr std::size_t COMMAND_OFFSET = 4;

std::string CommandName(int command) {
  switch (command) {
    case CMD_IDENTIFY:
      return "IDENTIFY";
    case CMD_WRITE_BLOCK:
      return "WRITE_BLOCK";
    case CMD_READ_BLOCK:
      return "READ_BLOCK";
    default:
      break;
  }
  char name[16];
  std::snprintf(name, sizeof name, "command 0x%02X", static_cast<unsigned>(command));
  return name;
}

}  // namespace

LinkTrace::LinkTrace(std::FILE* out, std::string label)
    : out_(out), label_(std::move(label)), start_(std::chrono::steady_clock::now()) {}

void LinkTrace::Print(const char* format, ...) {
  char text[160];
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  line_ += text;
}

void LinkTrace::Emit() {
  // In one write: a station's threads share the stream, and their lines
  // must not cut into one another.
  std::fwrite(line_.data(), 1, line_.size(), out_);
  std::fflush(out_);
  line_.clear();
}

void LinkTrace::Stamp() {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_);
  Print("%s%7lld ms ", label_.c_str(), static_cast<long long>(elapsed.count()));
}

void LinkTrace::Hex(std::span<const std::uint8_t> bytes) {
  const char* separator = "";
  for (const std::uint8_t byte : bytes) {
    Print("%s%02X", separator, static_cast<unsigned>(byte));
    separator = " ";
  }
}

void LinkTrace::Request(std::span<const std::uint8_t> frame) {
  received_.clear();
  command_ = frame.size() > COMMAND_OFFSET ? frame[COMMAND_OFFSET] : 0;
  Stamp();
  line_ += "-> ";
  line_ += CommandName(command_);
  line_ += "  ";
  Hex(frame);
  line_ += "\n";
  Emit();
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
    Print("-- %zu bytes skipped before the reply: ", skipped);
    Hex(all.first(skipped));
    line_ += "\n";
  }
  Stamp();
  line_ += "<- ";
  line_ += CommandName(frame.size() > COMMAND_OFFSET ? frame[COMMAND_OFFSET] : command_);
  line_ += "  ";
  Hex(frame);
  if (payloadChecksumWrong) line_ += "  (payload checksum wrong)";
  line_ += "\n";
  received_.clear();
  Emit();
}

void LinkTrace::Silence() {
  Stamp();
  Print("-- %d ms of silence, no reply to ", READ_SILENCE_MS);
  line_ += CommandName(command_);
  Print(" (%zu bytes received)\n", received_.size());
  Emit();
}

void LinkTrace::ReadFailure() {
  Stamp();
  line_ += "-- read failed, no reply to ";
  line_ += CommandName(command_);
  line_ += "\n";
  Emit();
}

void LinkTrace::ByteBudgetSpent(int bytes) {
  Stamp();
  Print("-- %d bytes without a complete reply to ", bytes);
  line_ += CommandName(command_);
  line_ += "\n";
  Emit();
}

void LinkTrace::NoIdentity(std::size_t bytes, std::size_t shortest) {
  Stamp();
  Print(
      "-- a reply of %zu bytes is no identity of at least %zu: it answers another "
      "request\n",
      bytes, shortest);
  Emit();
}

void LinkTrace::LateReplyDiscarded(std::size_t bytes) {
  Stamp();
  Print("-- %zu bytes of a late reply discarded\n", bytes);
  Emit();
}

}  // namespace kelvane
