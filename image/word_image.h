#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/file_messages.h"
#include "image/firmware_data.h"

namespace kelvane {

inline constexpr std::size_t TL3XX_IMAGE_AREA = 66000;
inline constexpr std::size_t SERIES27_IMAGE_AREA = 140000;

// Places the data of the S1/S2 records of the S-record file `file`, checked,
// at their addresses in `area` (already 0xFF), pads the data to whole 16-bit
// words and appends the 32-bit sum of those words. An Intel HEX or ELF file
// places its data the same way, each byte at its full address. Taken
// with the image length, checksum included, in `size`, or Refused after saying the
// cause in `out` (and explaining why a line too long was refused). A record
// whose data would make the image longer than `maxLength` bytes is refused
// on its line. `description`, when given, is told what the file is and where
// its data lies.
FileRead ReadWordImage(std::span<const std::uint8_t> file, std::span<std::uint8_t> area,
                       int maxLength, int& size, FileMessages& out,
                       FileDescription* description = nullptr);

// The drive's checksum of a word image's data: the sum, wrapping at 32 bits,
// of its 16-bit words, each stored least significant byte first.
std::uint32_t WordImageChecksum(std::span<const std::uint8_t> data);

// The length, checksum included, of the word image that `flash` holds from
// its start, or 0 when there is none: the image ends at the last place where
// four bytes hold the checksum of the words before them. Erased flash after
// the image cannot hold such a place, as no sum of the words an area holds
// reaches 0xFFFFFFFF; a match that only chance made earlier in the image is
// passed over.
int FindWordImageLength(std::span<const std::uint8_t> flash);

// S-records that ReadWordImage builds `data` from (the image without its
// checksum, of an even length): an empty S0 header, S1 where the addresses fit in 16 bits, S2
// above, 32 bytes a line, runs of erased 0xFF bytes left out but the last
// byte always written, and the matching end record (S9, or S8 after S2).
std::string FormatWordImage(std::span<const std::uint8_t> data);

}  // namespace kelvane
