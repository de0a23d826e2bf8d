#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace kelvane {

// What went over the line, one line of text per event, for an engineer who
// needs to see what the drive actually said: each request and each reply
// with the milliseconds since the trace began and the frame's bytes in hex,
// and each exchange that ended without a reply, with the reason. The frame
// exchange reports to the trace it was given, if any.
class LinkTrace {
 public:
  // `label` begins every line: a station's threads share one stream and
  // name their port in it ("/dev/ttyUSB0: ").
  explicit LinkTrace(std::FILE* out, std::string label = {});

  // A request frame as it is written; its command byte names what the next
  // reply answers.
  void Request(std::span<const std::uint8_t> frame);
  // Every byte the receiver takes, so that the reply can be shown as it came.
  void Received(std::uint8_t byte);
  // A complete reply: the last `frameLength` bytes received, and whether its
  // payload checksum was wrong.
  void Reply(bool payloadChecksumWrong, std::size_t frameLength);
  void Silence();
  void ReadFailure();
  void ByteBudgetSpent(int bytes);
  // Bytes of a reply that came after its exchange had given up, dropped
  // before the next request so they cannot pass for its reply.
  void LateReplyDiscarded(std::size_t bytes);
  // An identify reply of `bytes` bytes, too short for the drive's identity
  // of at least `shortest`: it answers another request.
  void NoIdentity(std::size_t bytes, std::size_t shortest);

 private:
  // The line being made, written whole by Emit.
  void Print(const char* format, ...);
  void Emit();
  void Stamp();
  void Hex(std::span<const std::uint8_t> bytes);

  std::FILE* out_;
  std::string label_;
  std::string line_;
  std::chrono::steady_clock::time_point start_;
  int command_ = 0;
  std::vector<std::uint8_t> received_;
};

}  // namespace kelvane
