#pragma once

// A pseudo-terminal standing in for the drive's end of the serial line. The
// test queues the drive's reply frames on the master side before the loader
// asks, and afterwards takes every request frame the loader wrote. The loader
// opens the slave side through its ordinary SerialPort, so the bytes travel
// through a real terminal device both ways.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "test_support.h"

namespace kelvane::testing {

struct RequestFrame {
  int command = -1;
  std::vector<std::uint8_t> payload;
};

class ScriptedLine {
 public:
  ScriptedLine() : pty_(O_NONBLOCK) {
    if (pty_.slavePath().empty()) return;
    // Held open for the whole test: replies queued before the loader opens
    // the line must not be dropped, and they must pass unprocessed.
    slave_ = open(pty_.slave(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (slave_ < 0 || tcgetattr(slave_, &raw) != 0) {
      ADD_FAILURE() << "cannot open " << pty_.slavePath();
      return;
    }
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
  }
  ~ScriptedLine() {
    if (slave_ >= 0) close(slave_);
  }
  ScriptedLine(const ScriptedLine&) = delete;
  ScriptedLine& operator=(const ScriptedLine&) = delete;

  const std::string& path() const { return pty_.slavePath(); }
  // The loader's /c form for this line.
  std::string deviceOption() const { return "/c" + pty_.slavePath(); }

  void QueueBytes(std::span<const std::uint8_t> bytes) {
    const std::size_t sent = pty_.Write(bytes);
    if (sent < bytes.size()) {
      ADD_FAILURE() << "the line took only " << sent << " of " << bytes.size() << " bytes";
    }
  }

  // One reply frame as the drive sends it; a wrong payload checksum on demand.
  void QueueReply(std::uint8_t status, std::span<const std::uint8_t> payload = {},
                  bool corruptPayloadSum = false) {
    std::vector<std::uint8_t> frame = ReplyFrameBytes(0x11, status, payload);
    if (corruptPayloadSum && !payload.empty()) ++frame.back();
    QueueBytes(frame);
  }

  // Every byte the loader has written so far.
  std::vector<std::uint8_t> TakeBytes() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    for (;;) {
      const ssize_t n = read(pty_.master(), chunk, sizeof chunk);
      if (n > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    return bytes;
  }

  // The loader's request frames, checked for their framing and checksums.
  std::vector<RequestFrame> TakeRequests() {
    const std::vector<std::uint8_t> bytes = TakeBytes();
    std::vector<RequestFrame> frames;
    std::size_t at = 0;
    while (at < bytes.size()) {
      if (bytes.size() - at < 6 || bytes[at] != 0x55 || bytes[at + 1] != 0xAA) {
        ADD_FAILURE() << "unframed bytes at " << at;
        break;
      }
      const std::size_t length = bytes[at + 2] | (bytes[at + 3] << 8);
      RequestFrame frame;
      frame.command = bytes[at + 4];
      EXPECT_EQ(bytes[at + 5],
                static_cast<std::uint8_t>(bytes[at + 2] + bytes[at + 3] + bytes[at + 4]));
      at += 6;
      if (length > 0) {
        if (bytes.size() - at < length + 1) {
          ADD_FAILURE() << "request cut short";
          break;
        }
        frame.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        std::uint8_t sum = 0;
        for (std::uint8_t b : frame.payload) sum = static_cast<std::uint8_t>(sum + b);
        EXPECT_EQ(bytes[at + length], sum);
        at += length + 1;
      }
      frames.push_back(std::move(frame));
    }
    return frames;
  }

 private:
  PseudoTerminalPair pty_;
  int slave_ = -1;
};

}  // namespace kelvane::testing
