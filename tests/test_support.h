#pragma once

// What the unit tests share: a directory of the test's own, the text a
// function prints, a pseudo-terminal standing in for the serial line, and
// frames laid out as the loader and the drive put them on that line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kelvane::testing {

// Writes `bytes` to `path` as they are, replacing what was there.
inline void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot write " << path;
    return;
  }
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline void WriteFile(const std::string& path, std::string_view text) {
  WriteFile(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// A directory of the test's own, removed with everything in it, so that
// tests can run in parallel and repeatedly.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "no temporary directory: errno " << errno;
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

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` in the directory; the file need not exist.
  std::string File(std::string_view name) const { return (path_ / name).string(); }
  // Writes the file `name` and returns its path.
  std::string Write(std::string_view name, std::string_view text) const {
    const std::string file = File(name);
    WriteFile(file, text);
    return file;
  }
  std::string Write(std::string_view name, std::span<const std::uint8_t> bytes) const {
    const std::string file = File(name);
    WriteFile(file, bytes);
    return file;
  }

 private:
  std::filesystem::path path_;
};

// Collects what a function prints to its std::FILE*, byte for byte.
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

// A pseudo-terminal pair of the test's own, a real serial device: the code
// under test opens the slave as its line, the test plays the far end on the
// master. Termios calls on the master act on the slave's settings, which lets
// a test look at what a port applied. `extraFlags` go to posix_openpt (such
// as O_NONBLOCK for a master that is only ever drained).
class PseudoTerminalPair {
 public:
  explicit PseudoTerminalPair(int extraFlags = 0) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | extraFlags);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      ADD_FAILURE() << "no pseudo-terminal: errno " << errno;
      return;
    }
    slave_ = name;
  }
  ~PseudoTerminalPair() { Hangup(); }
  PseudoTerminalPair(const PseudoTerminalPair&) = delete;
  PseudoTerminalPair& operator=(const PseudoTerminalPair&) = delete;

  int master() const { return master_; }
  const char* slave() const { return slave_.c_str(); }
  const std::string& slavePath() const { return slave_; }

  // The far end goes away: closes the master, which the slave sees as a
  // hang-up.
  void Hangup() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  // Writes to the master, the whole burst in one write where the terminal
  // takes it; returns how many bytes it took before it refused.
  std::size_t Write(std::span<const std::uint8_t> bytes) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    return sent;
  }
  // Blocking on a blocking master, so it also serves from a thread for lines
  // longer than the terminal's buffers hold.
  bool Send(const std::vector<std::uint8_t>& bytes) const { return Write(bytes) == bytes.size(); }

  // Up to `count` bytes the code under test wrote to the slave; stops early
  // only after `timeoutMs` of quiet (then a comparison shows what arrived).
  std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs = 5000) const {
    std::vector<std::uint8_t> got;
    while (got.size() < count) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, timeoutMs) != 1) break;
      std::uint8_t chunk[512];
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

inline std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Bytes that step by 7 from `seed`, so blocks cut from them differ.
inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

// The frame's tail: the payload and the sum of its bytes, when there is one.
inline void AppendPayload(std::vector<std::uint8_t>& frame, std::span<const std::uint8_t> payload) {
  if (payload.empty()) return;
  std::uint8_t sum = 0;
  frame.reserve(frame.size() + payload.size() + 1);
  for (std::uint8_t b : payload) {
    frame.push_back(b);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  frame.push_back(sum);
}

// A request frame as the loader puts it on the line: 55 AA, the payload's
// length low byte first, the command and the sum of the three; then the
// payload and its sum.
inline std::vector<std::uint8_t> RequestFrameBytes(std::uint8_t command,
                                                   const std::vector<std::uint8_t>& payload) {
  const auto n = payload.size();
  std::vector<std::uint8_t> frame = {0x55,
                                     0xAA,
                                     static_cast<std::uint8_t>(n & 0xFF),
                                     static_cast<std::uint8_t>(n >> 8),
                                     command,
                                     static_cast<std::uint8_t>((n & 0xFF) + (n >> 8) + command)};
  AppendPayload(frame, payload);
  return frame;
}

// A reply frame as the drive sends it: AA 55, the payload's length low byte
// first, the command it answers, the drive's status and the sum of the four;
// then the payload and its sum.
inline std::vector<std::uint8_t> ReplyFrameBytes(std::uint8_t command, std::uint8_t status,
                                                 std::span<const std::uint8_t> payload) {
  const auto length = static_cast<std::uint16_t>(payload.size());
  std::vector<std::uint8_t> frame = {0xAA,
                                     0x55,
                                     static_cast<std::uint8_t>(length & 0xFF),
                                     static_cast<std::uint8_t>(length >> 8),
                                     command,
                                     status};
  frame.push_back(static_cast<std::uint8_t>(frame[2] + frame[3] + frame[4] + frame[5]));
  AppendPayload(frame, payload);
  return frame;
}

}  // namespace kelvane::testing
