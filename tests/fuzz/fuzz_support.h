#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelvane::fuzz {

// The input as the readers take a file: its bytes, copied to a buffer of
// their exact length, so that AddressSanitizer catches a read past the end.
inline std::vector<std::uint8_t> Input(const std::uint8_t* data, std::size_t size) {
  return std::vector<std::uint8_t>(data, data + size);
}

}  // namespace kelvane::fuzz
