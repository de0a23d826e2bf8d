#pragma once

// Small helpers of the unit tests: bytes written as hex, output captured from
// a std::FILE*, a temporary directory and a pseudo-terminal of a test's own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::unit {

// "55 AA 00" as bytes.
inline std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(
        static_cast<std::uint8_t>(std::stoul(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

inline std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// What a function prints to its std::FILE*, byte for byte.
class Output {
 public:
  Output() : stream_(open_memstream(&data_, &size_)) {}
  ~Output() {
    std::fclose(stream_);
    std::free(data_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::FILE* get() const { return stream_; }
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
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvane-unit-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes the file `name` and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = (path_ / name).string();
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) return file;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return file;
  }

 private:
  std::filesystem::path path_;
};

// A pseudo-terminal pair: the code under test opens the slave as its serial
// line, the test plays the drive on the master. Termios calls on the master
// act on the slave's settings.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
        ptsname_r(master_, name, sizeof name) == 0) {
      slave_ = name;
    }
  }
  ~PseudoTerminal() {
    if (master_ >= 0) close(master_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int master() const { return master_; }
  const char* slave() const { return slave_.c_str(); }

  // Blocks until the terminal has taken every byte.
  bool Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Up to `count` bytes from the slave's side; fewer after a second of quiet.
  std::vector<std::uint8_t> Receive(std::size_t count) const {
    std::vector<std::uint8_t> got;
    while (got.size() < count) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 1000) != 1) break;
      std::uint8_t byte = 0;
      if (read(master_, &byte, 1) != 1) break;
      got.push_back(byte);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace kelvane::unit
