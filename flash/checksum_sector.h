#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kelvane {

// The 27 series monitor finds the firmware's extent and checksum in one
// flash sector of its own, sector 479 at 0x1DF00, and checks the firmware
// against it before running it.
inline constexpr std::uint32_t CHECKSUM_SECTOR_ADDRESS = 0x1DF00;
inline constexpr int CHECKSUM_SECTOR_NUMBER = 479;
inline constexpr std::uint32_t CHECKSUM_SECTOR_MARKER = 0x12345678;
inline constexpr std::size_t CHECKSUM_SECTOR_SIZE = 256;

using ChecksumSector = std::array<std::uint8_t, CHECKSUM_SECTOR_SIZE>;

// The firmware's size in 16-bit words, the checksum not counted, for a word
// image of `length` bytes whose last four bytes are the checksum.
std::int32_t FirmwareWordCount(int length);
// The word image's checksum, as its last four bytes hold it.
std::uint32_t FirmwareChecksum(std::span<const std::uint8_t> image, int length);

// Marker, word count and checksum, least significant byte first, then 0xFF.
ChecksumSector BuildChecksumSector(std::span<const std::uint8_t> image, int length);

}  // namespace kelvane
