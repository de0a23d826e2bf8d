#pragma once

// Small helpers of the unit tests: bytes written as hex and output captured
// from a std::FILE*. The temporary directory and the pseudo-terminal are the
// shared ones in tests/support/.

#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

}  // namespace kelvane::unit
