#include <vector>

#include "flash/block_passes.h"
#include "flash/checksum_sector.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/word_image.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// Writes (unless verify-only) the checksum sector, reads it back and says
// whether it holds what was meant (`matched`). A difference is reported, not
// fatal: the firmware sectors are still verified before the verdict. Returns 1 after a failed
// exchange.
int UpdateChecksumSector(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                         std::span<const std::uint8_t> image, int length, bool& matched,
                         std::FILE* out) {
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
  matched = errors == 0;
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

int PrepareWordImage(const RunOptions& options, const BlockFamily& family, PreparedImage& image,
                     std::FILE* out, std::FILE* err) {
  image.bytes.assign(family.imageArea, 0xFF);
  FirmwareFile file = OpenNamedFirmwareFile(options, out);
  if (!file) return 1;
  if (ReadWordImage(file.get(), image.bytes, family.maxImageLength, image.length, out, err) != 0)
    return 1;
  image.fileName = FileNameForDisplay(options);
  image.check = {.kind = CheckKind::WordImageChecksum,
                 .word = FirmwareChecksum(image.bytes, image.length)};
  image.total = BlockCount(family, image.length);
  return 0;
}

int RunWordImageProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                          std::FILE* out, std::FILE* err) {
  PreparedImage image;
  if (PrepareWordImage(options, family, image, out, err) != 0) return PROCEDURE_FAILED;
  const BlockRange range = image.range();
  if (!options.verifyOnly) {
    if (RunWritePass(port, family, range, out) != 0) return PROCEDURE_FAILED;
    if (family.checksumSector) std::fputs("Writing firmware checksum ...\r\n", out);
  }
  // A checksum sector that reads back wrong leaves a drive whose boot code
  // will not start the firmware: the flash does not match the file, whatever
  // the sectors' own comparison finds.
  bool sectorMatched = true;
  if (family.checksumSector && UpdateChecksumSector(port, options, family, image.bytes,
                                                    image.length, sectorMatched, out) != 0)
    return PROCEDURE_FAILED;
  bool matched = false;
  if (RunVerifyPass(port, family, range, matched, out) != 0) return PROCEDURE_FAILED;
  matched = matched && sectorMatched;
  PrintVerdict(family, matched, image.fileName, out);
  return Verdict(matched);
}

}  // namespace kelvane
