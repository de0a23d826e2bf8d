#include <vector>

#include "flash/block_passes.h"
#include "flash/checksum_sector.h"
#include "flash/firmware_source.h"
#include "flash/procedures.h"
#include "image/word_image.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// Writes (unless verify-only) the checksum sector, reads it back and says
// whether it holds what was meant. A difference is reported, not fatal: the
// firmware sectors are still verified. Returns 1 after a failed exchange.
int UpdateChecksumSector(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                         std::span<const std::uint8_t> image, int length, std::FILE* out) {
  std::fprintf(out, "Firmware checksum is %08x, size in WORDs %d\r\n",
               static_cast<unsigned>(FirmwareChecksum(image, length)),
               static_cast<int>(FirmwareWordCount(length)));
  const ChecksumSector sector = BuildChecksumSector(image, length);
  if (!options.verifyOnly &&
      WriteFlashBlock(port, family, CHECKSUM_SECTOR_ADDRESS, sector) != LINK_OK) {
    std::fprintf(out, "Firmware checksum update failed on sector %d\r\n", CHECKSUM_SECTOR_NUMBER);
    return 1;
  }
  // Read back with the sector's full length, as every other sector is.
  std::span<const std::uint8_t> reply;
  if (ReadFlashBlock(port, family, CHECKSUM_SECTOR_ADDRESS, CHECKSUM_SECTOR_SIZE, reply) !=
      LINK_OK) {
    std::fputs("Failed to read sector with firmware checksum and length\r\n", out);
    return 1;
  }
  const int errors = CountErroneousLocations(sector, reply);
  if (errors > 0) {
    std::fprintf(out, "Firmware checksum sector %d has %d errorneous location(s)\r\n",
                 CHECKSUM_SECTOR_NUMBER, errors);
  } else {
    std::fputs("Firmware checksum sector is verified\r\n", out);
  }
  std::fflush(out);
  return 0;
}

}  // namespace

int RunWordImageProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                          std::FILE* out, std::FILE* err) {
  std::vector<std::uint8_t> area(family.imageArea, 0xFF);
  int length = 0;
  {
    FirmwareFile file = OpenNamedFirmwareFile(options, out);
    if (!file) return 1;
    if (ReadWordImage(file.get(), area, family.maxImageLength, length, out, err) != 0) return 1;
  }

  const BlockRange range{.image = area, .first = 0, .total = BlockCount(family, length)};
  if (!options.verifyOnly) {
    if (RunWritePass(port, family, range, out) != 0) return 1;
    if (family.checksumSector) std::fputs("Writing firmware checksum ...\r\n", out);
  }
  if (family.checksumSector && UpdateChecksumSector(port, options, family, area, length, out) != 0)
    return 1;
  bool matched = false;
  if (RunVerifyPass(port, family, range, matched, out) != 0) return 1;
  PrintVerdict(family, matched, FileNameForDisplay(options), out);
  return 0;
}

}  // namespace kelvane
