#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "image/file_messages.h"

namespace kelvane {

inline constexpr std::size_t TL3XX_IMAGE_AREA = 66000;
inline constexpr std::size_t SERIES27_IMAGE_AREA = 140000;

// Places the data of the S1/S2 records of `file` at their addresses in `area`
// (already 0xFF), pads the data to whole 16-bit words and appends the 32-bit
// sum of those words. Returns 0 with the image length, checksum included, in
// `size`, or 1 after saying the cause in `out` (and explaining why a line too
// long was refused). A record whose data would make the image longer than
// `maxLength` bytes is refused on its line.
int ReadWordImage(std::FILE* file, std::span<std::uint8_t> area, int maxLength, int& size,
                  FileMessages& out);

}  // namespace kelvane
