#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "image/file_messages.h"

namespace kelvane {

// A TK720 image stamped with the MD5 digest the drive will report back:
// digest, time stamp, length field, the file's bytes, then 0xFF to the end of
// `bytes` (file length + 512 bytes).
struct DigestStampedImage {
  std::vector<std::uint8_t> bytes;
  int length = 0;

  std::span<const std::uint8_t, 16> digest() const {
    return std::span<const std::uint8_t, 16>(bytes.data(), 16);
  }
};

// Builds the image from the bytes `file` of the binary file `fileName`, stamped with `timeStamp`
// (seconds since 1970), and notes its size and digest lines. Refused
// after saying why in `out` (nothing has been sent then).
FileRead PrepareDigestStampedImage(std::span<const std::uint8_t> file, const char* fileName,
                                   std::uint32_t timeStamp, DigestStampedImage& image,
                                   FileMessages& out);

}  // namespace kelvane
