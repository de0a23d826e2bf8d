#include <algorithm>
#include <vector>

#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/procedures.h"
#include "image/record_stream.h"

namespace kelvane {

namespace {

// Erasing writes 0xFF over this many bytes: sectors 0 to 991.
constexpr int CLEAR_IMAGE_LENGTH = 253800;
// The drive's parameters live from sector 736 (write address 0x2E000) on.
constexpr int PARAMETERS_FIRST_SECTOR = 736;

}  // namespace

int RunNymProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                    std::FILE* out, std::FILE* err) {
  // Erased flash reads 0xFF, so the part of the area no record fills (and the
  // whole area when erasing) holds exactly what the drive keeps there.
  std::vector<std::uint8_t> area(family.imageArea, 0xFF);
  int length = 0;
  int first = 0;
  if (options.clearMode != ClearMode::None) {
    // Erasing takes the place of the file, which is not even opened.
    std::fputs("Setting flash to 0xFF\r\n", out);
    length = CLEAR_IMAGE_LENGTH;
    if (options.clearMode == ClearMode::ParametersSection) first = PARAMETERS_FIRST_SECTOR;
  } else {
    FirmwareFile file = OpenNamedFirmwareFile(options, out);
    if (!file) return 1;
    if (ReadRecordStream(file.get(), area, length, out, err) != 0) return 1;
    std::fill(area.begin() + std::min<std::ptrdiff_t>(length, std::ssize(area)), area.end(),
              std::uint8_t{0xFF});
  }

  // One sector more than the stream fills: the stream's end always lands in
  // a sector the drive gets, even when it ends on a sector boundary.
  const BlockRange range{.image = area, .first = first, .total = BlockCount(family, length)};
  if (!options.verifyOnly && RunWritePass(port, family, range, out) != 0) return 1;
  bool matched = false;
  if (RunVerifyPass(port, family, range, matched, out) != 0) return 1;
  PrintVerdict(family, matched, FileNameForDisplay(options), out);
  return 0;
}

}  // namespace kelvane
