#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/file_messages.h"

namespace kelvane {

inline constexpr std::uint32_t CHECKSUMMED_IMAGE_MAGIC = 0xF1E2D3C4;

// A TK720 image: header, the file's bytes, check word, then 0xFF to the end of
// `bytes` (file length + 512 bytes), so the last block can be sent whole.
struct ChecksummedImage {
  std::vector<std::uint8_t> bytes;
  int length = 0;
};

// Builds the image from the binary file `fileName`. Returns 0, or 1 after
// printing why to `out` (nothing has been sent then).
int PrepareChecksummedImage(const char* fileName, ChecksummedImage& image, FileMessages& out);

}  // namespace kelvane
