#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"
#include "link/drive_commands.h"

namespace kelvane {

int PrepareTK720Image(const RunOptions& options, const BlockFamily& family, PreparedImage& image,
                      std::FILE* out, std::FILE* /*err*/) {
  const char* fileName = BinaryImageFileName(options, out);
  if (fileName == nullptr) return 1;
  ChecksummedImage checksummed;
  if (PrepareChecksummedImage(fileName, checksummed, out) != 0) return 1;
  image.fileName = fileName;
  image.length = checksummed.length;
  image.bytes = std::move(checksummed.bytes);
  // The check word closes the image, most significant byte first as the
  // drive sums it.
  const auto checkWord = std::span<const std::uint8_t>(image.bytes)
                             .subspan(static_cast<std::size_t>(image.length) - 4);
  image.check = {.kind = CheckKind::CheckWord,
                 .word = LoadWord32(checkWord.first<4>(), ByteOrder::MostSignificantFirst)};
  // Whole blocks only: the last one is filled out with the image's 0xFF tail.
  image.total = BlockCount(family, image.length);
  return 0;
}

int RunTK720Procedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                      std::FILE* out, std::FILE* err) {
  return RunReadBackProcedure(port, options, family, PrepareTK720Image, out, err);
}

}  // namespace kelvane
