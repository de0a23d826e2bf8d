#include <vector>

#include "digest/sha256_digest.h"
#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"
#include "link/drive_commands.h"

namespace kelvane {

PreparedImage PrepareTK720Image(const RunOptions& options, const BlockFamily& family,
                                std::uint32_t /*now*/) {
  PreparedImage image;
  std::vector<std::uint8_t> file;
  ChecksummedImage checksummed;
  image.refused = !ReadNamedFirmwareFile(options, file, image.messages) ||
                  PrepareChecksummedImage(file, options.fileName->c_str(), checksummed,
                                          image.messages) == FileRead::Refused;
  if (image.refused) return image;
  image.fileSha256 = Sha256Of(file);
  image.fileName = *options.fileName;
  image.description.format = "binary image";
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
  return image;
}

}  // namespace kelvane
