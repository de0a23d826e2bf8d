#include "flash/checksum_sector.h"

#include <algorithm>

#include "link/drive_commands.h"

namespace kelvane {

namespace {

std::span<const std::uint8_t, 4> ChecksumBytes(std::span<const std::uint8_t> image, int length) {
  return image.subspan(static_cast<std::size_t>(length) - 4).first<4>();
}

}  // namespace

std::int32_t FirmwareWordCount(int length) {
  return (length - 4) / 2;
}

std::uint32_t FirmwareChecksum(std::span<const std::uint8_t> image, int length) {
  return LoadWord32(ChecksumBytes(image, length), ByteOrder::LeastSignificantFirst);
}

ChecksumSector BuildChecksumSector(std::span<const std::uint8_t> image, int length) {
  ChecksumSector sector;
  sector.fill(0xFF);
  const auto field = [&sector](std::size_t at) { return std::span(sector).subspan(at).first<4>(); };
  StoreWord32(field(0), CHECKSUM_SECTOR_MARKER, ByteOrder::LeastSignificantFirst);
  StoreWord32(field(4), static_cast<std::uint32_t>(FirmwareWordCount(length)),
              ByteOrder::LeastSignificantFirst);
  // The checksum goes over byte for byte, in the order the image holds it.
  const auto checksum = ChecksumBytes(image, length);
  std::copy(checksum.begin(), checksum.end(), sector.begin() + 8);
  return sector;
}

}  // namespace kelvane
