#include "flash/block_families.h"
#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"

namespace kelvane {

int RunTK720Procedure(SerialPort& port, const RunOptions& options, std::FILE* out) {
  const char* fileName = BinaryImageFileName(options, out);
  if (fileName == nullptr) return 1;
  ChecksummedImage image;
  if (PrepareChecksummedImage(fileName, image, out) != 0) return 1;

  // Whole blocks only: the last one is filled out with the image's 0xFF tail.
  const BlockRange range{.image = image.bytes, .first = 0, .total = (image.length + 255) / 256};
  if (!options.verifyOnly && RunWritePass(port, TK720_FAMILY, range, out) != 0) return 1;
  bool matched = false;
  if (RunVerifyPass(port, TK720_FAMILY, range, matched, out) != 0) return 1;
  PrintVerdict(TK720_FAMILY, matched, fileName, out);
  return 0;
}

}  // namespace kelvane
