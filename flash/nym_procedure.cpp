#include <algorithm>
#include <vector>

#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/record_stream.h"

namespace kelvane {

namespace {

// Erasing writes 0xFF over this many bytes: sectors 0 to 991.
constexpr int CLEAR_IMAGE_LENGTH = 253800;
// The drive's parameters live from sector 736 (write address 0x2E000) on.
constexpr int PARAMETERS_FIRST_SECTOR = 736;

}  // namespace

int PrepareNymImage(const RunOptions& options, const BlockFamily& family, PreparedImage& image,
                    std::FILE* out, std::FILE* err) {
  // Erased flash reads 0xFF, so the part of the area no record fills (and the
  // whole area when erasing) holds exactly what the drive keeps there.
  std::vector<std::uint8_t>& area = image.bytes;
  area.assign(family.imageArea, 0xFF);
  image.fileName = FileNameForDisplay(options);
  if (options.clearMode != ClearMode::None) {
    // Erasing takes the place of the file, which is not even opened.
    std::fputs("Setting flash to 0xFF\r\n", out);
    image.length = CLEAR_IMAGE_LENGTH;
    if (options.clearMode == ClearMode::ParametersSection) image.first = PARAMETERS_FIRST_SECTOR;
  } else {
    FirmwareFile file = OpenNamedFirmwareFile(options, out);
    if (!file) return 1;
    if (ReadRecordStream(file.get(), area, image.length, out, err) != 0) return 1;
    std::fill(area.begin() + std::min<std::ptrdiff_t>(image.length, std::ssize(area)), area.end(),
              std::uint8_t{0xFF});
  }
  // One sector more than the stream fills: the stream's end always lands in
  // a sector the drive gets, even when it ends on a sector boundary.
  image.total = BlockCount(family, image.length);
  return 0;
}

int RunNymProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                    std::FILE* out, std::FILE* err) {
  return RunReadBackProcedure(port, options, family, PrepareNymImage, out, err);
}

int RunReadBackProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                         ImagePreparation prepare, std::FILE* out, std::FILE* err) {
  PreparedImage image;
  if (prepare(options, family, image, out, err) != 0) return PROCEDURE_FAILED;
  const BlockRange range = image.range();
  if (!options.verifyOnly && RunWritePass(port, family, range, out) != 0) return PROCEDURE_FAILED;
  bool matched = false;
  if (RunVerifyPass(port, family, range, matched, out) != 0) return PROCEDURE_FAILED;
  PrintVerdict(family, matched, image.fileName, out);
  return Verdict(matched);
}

}  // namespace kelvane
