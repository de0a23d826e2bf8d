#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"

namespace kelvane {

namespace {

// The TK720 monitor keeps its firmware from 0x4000 on, in 256-byte blocks,
// takes every field least significant byte first and a 32-bit read length.
constexpr BlockFamily TK720_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0x4000,
    .readBackOffset = 0,
    .readLengthFieldBytes = 4,
    .unit = "block",
    .unitTitle = "Block",
    .writeFailureShowsCode = false,
    .driveName = "TK720",
};

}  // namespace

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
