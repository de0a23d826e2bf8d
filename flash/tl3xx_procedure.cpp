#include <vector>

#include "flash/block_families.h"
#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/procedures.h"
#include "image/word_image.h"

namespace kelvane {

namespace {

// The longest image whose sectors, the extra one included, stay inside the
// 66000-byte area: 515 sectors of 128 bytes.
constexpr int TL3XX_MAX_IMAGE_LENGTH = 65919;

}  // namespace

int RunTL3xxProcedure(SerialPort& port, const RunOptions& options, std::FILE* out) {
  std::vector<std::uint8_t> area(TL3XX_IMAGE_AREA, 0xFF);
  int length = 0;
  {
    FirmwareFile file = OpenNamedFirmwareFile(options, out);
    if (!file) return 1;
    if (ReadWordImage(file.get(), area, TL3XX_MAX_IMAGE_LENGTH, length, out) != 0) return 1;
  }

  const BlockRange range{.image = area, .first = 0, .total = length / 128 + 1};
  if (!options.verifyOnly && RunWritePass(port, TL3XX_FAMILY, range, out) != 0) return 1;
  bool matched = false;
  if (RunVerifyPass(port, TL3XX_FAMILY, range, matched, out) != 0) return 1;
  PrintVerdict(TL3XX_FAMILY, matched, FileNameForDisplay(options), out);
  return 0;
}

}  // namespace kelvane
