#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/file_messages.h"

namespace kelvane {

// Room after the file's bytes in a TK720 image buffer: the pad bytes, the
// check word and the 0xFF that fills out the last 256-byte block.
inline constexpr std::size_t BINARY_IMAGE_SLACK = 512;

// True when `bytes` open with an S-record line: "S0" to "S9", hex digits,
// and nothing but printable text up to the line end or the end of the file.
// No binary image starts so; an S-record file given to a binary image option
// always does.
bool BeginsWithRecordLine(std::span<const std::uint8_t> bytes);

// Copies the binary image file's bytes `file` (named `fileName`) into
// `bytes`, sized to the file's length plus BINARY_IMAGE_SLACK and 0xFF
// (erased flash) wherever the file does not reach. A file shorter than
// `headerLength` bytes leaves no room for the header the loader writes over
// its start and is refused, as are an S-record, Intel HEX or ELF file (its
// text or headers would become the drive's firmware). Refused after
// saying why in `out`.
FileRead LoadBinaryImageFile(std::span<const std::uint8_t> file, const char* fileName,
                             std::size_t headerLength, std::vector<std::uint8_t>& bytes,
                             FileMessages& out);

}  // namespace kelvane
