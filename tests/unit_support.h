#pragma once

// Bytes written as hex, and what a function prints to its std::FILE*. The
// temporary directory and the pseudo-terminal are in tests/support/.

#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::unit {

using Bytes = std::vector<std::uint8_t>;

// "55 AA 00" as bytes.
inline Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

inline Bytes Cat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

struct Output {
  char* data = nullptr;
  std::size_t size = 0;
  FILE* stream = open_memstream(&data, &size);
  Output() = default;
  Output(const Output&) = delete;
  ~Output() { fclose(stream), free(data); }
  FILE* get() const { return stream; }
  std::string text() { return fflush(stream), std::string(data, size); }
};

}  // namespace kelvane::unit
