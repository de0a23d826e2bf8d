#pragma once

// Bytes written as hex, and output captured from a std::FILE*. The temporary
// directory and the pseudo-terminal are the shared ones in tests/support/.

#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <initializer_list>
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

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// What a function prints to its std::FILE*, byte for byte.
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
