#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "image/file_messages.h"

namespace kelvane {

inline constexpr std::size_t NYM_IMAGE_AREA = 256000;

// Copies the S2/S3/S7/S8 records of `file`, decoded, one after the other into
// `area` and closes the stream with 0xFF 0xFF. Returns 0 with the stream length
// stored in `length`, or 1 after saying the cause in `out` (and explaining
// why a line too long was refused). A stream whose sectors would not fit in
// `area` is refused at the record that overflows.
int ReadRecordStream(std::FILE* file, std::span<std::uint8_t> area, int& length, FileMessages& out);

}  // namespace kelvane
