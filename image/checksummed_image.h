#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
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

// Builds the image from the bytes `file` of the binary file `fileName`.
// Refused after
// printing why to `out` (nothing has been sent then).
FileRead PrepareChecksummedImage(std::span<const std::uint8_t> file, const char* fileName,
                                 ChecksummedImage& image, FileMessages& out);

// The length, check word included, that the header at the start of a TK720
// image gives it (its word count times 4), or 0 when the header holds no
// magic or fewer words than the header and the check word take.
int ChecksummedImageLength(std::span<const std::uint8_t, 8> header);

// True when `image`, read as 32-bit words most significant byte first, sums
// to zero, as its check word makes every image the loader builds.
bool ChecksummedImageSumsToZero(std::span<const std::uint8_t> image);

}  // namespace kelvane
