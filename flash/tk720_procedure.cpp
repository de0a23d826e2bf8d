#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"

namespace kelvane {

int RunTK720Procedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                      std::FILE* out, std::FILE* /*err*/) {
  const char* fileName = BinaryImageFileName(options, out);
  if (fileName == nullptr) return 1;
  ChecksummedImage image;
  if (PrepareChecksummedImage(fileName, image, out) != 0) return 1;

  // Whole blocks only: the last one is filled out with the image's 0xFF tail.
  const BlockRange range{
      .image = image.bytes, .first = 0, .total = BlockCount(family, image.length)};
  if (!options.verifyOnly && RunWritePass(port, family, range, out) != 0) return 1;
  bool matched = false;
  if (RunVerifyPass(port, family, range, matched, out) != 0) return 1;
  PrintVerdict(family, matched, fileName, out);
  return 0;
}

}  // namespace kelvane
