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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kelvane::testing {

struct RequestFrame {
  int command = -1;
  std::vector<std::uint8_t> payload;
};

class ScriptedLine {
 public:
  ScriptedLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      ADD_FAILURE() << "no pseudo-terminal: errno " << errno;
      return;
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
      ADD_FAILURE() << "ptsname_r failed";
      return;
    }
    path_ = name;
    // Held open for the whole test: replies queued before the loader opens
    // the line must not be dropped, and they must pass unprocessed.
    slave_ = open(name, O_RDWR | O_NOCTTY);
    termios raw{};
    if (slave_ < 0 || tcgetattr(slave_, &raw) != 0) {
      ADD_FAILURE() << "cannot open " << name;
      return;
    }
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
  }
  ~ScriptedLine() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  ScriptedLine(const ScriptedLine&) = delete;
  ScriptedLine& operator=(const ScriptedLine&) = delete;

  const std::string& path() const { return path_; }
  // The loader's /c form for this line.
  std::string deviceOption() const { return "/c" + path_; }

  void QueueBytes(std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ADD_FAILURE() << "the line took only " << sent << " of " << bytes.size() << " bytes";
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  }

  // One reply frame as the drive sends it; a wrong payload checksum on demand.
  void QueueReply(std::uint8_t status, std::span<const std::uint8_t> payload = {},
                  bool corruptPayloadSum = false) {
    const auto length = static_cast<std::uint16_t>(payload.size());
    const std::uint8_t command = 0x11;
    std::vector<std::uint8_t> frame{0xAA,
                                    0x55,
                                    static_cast<std::uint8_t>(length & 0xFF),
                                    static_cast<std::uint8_t>(length >> 8),
                                    command,
                                    status};
    frame.push_back(static_cast<std::uint8_t>((length & 0xFF) + (length >> 8) + command + status));
    if (!payload.empty()) {
      std::uint8_t sum = 0;
      for (std::uint8_t b : payload) sum = static_cast<std::uint8_t>(sum + b);
      frame.insert(frame.end(), payload.begin(), payload.end());
      frame.push_back(corruptPayloadSum ? static_cast<std::uint8_t>(sum + 1) : sum);
    }
    QueueBytes(frame);
  }

  // Every byte the loader has written so far.
  std::vector<std::uint8_t> TakeBytes() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    for (;;) {
      const ssize_t n = read(master_, chunk, sizeof chunk);
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
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Collects what a function prints, byte for byte.
class CapturedOutput {
 public:
  CapturedOutput() : stream_(open_memstream(&data_, &size_)) {}
  ~CapturedOutput() {
    std::fclose(stream_);
    std::free(data_);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::FILE* stream() const { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

// A directory of the test's own, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kelvane-driver-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
      return;
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string file = path_ + "/" + name;
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) {
      ADD_FAILURE() << "cannot write " << file;
      return file;
    }
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return file;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kelvane::testing
