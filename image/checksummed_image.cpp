#include "image/checksummed_image.h"

#include <climits>
#include <cstddef>

#include "image/binary_file.h"
#include "link/drive_commands.h"

namespace kelvane {

namespace {

// The first eight bytes of the file are room for the magic and the word
// count; whatever the file holds there is replaced.
constexpr std::size_t HEADER_BYTES = 8;

// Magic, word count and check word.
constexpr std::uint32_t LEAST_WORD_COUNT = 3;

}  // namespace

int ChecksummedImageLength(std::span<const std::uint8_t, 8> header) {
  const std::uint32_t words = LoadWord32(header.subspan<4, 4>(), ByteOrder::MostSignificantFirst);
  if (LoadWord32(header.first<4>(), ByteOrder::MostSignificantFirst) != CHECKSUMMED_IMAGE_MAGIC ||
      words < LEAST_WORD_COUNT || words > INT_MAX / 4)
    return 0;
  return static_cast<int>(words * 4);
}

bool ChecksummedImageSumsToZero(std::span<const std::uint8_t> image) {
  std::uint32_t sum = 0;
  for (std::size_t offset = 0; offset + 4 <= image.size(); offset += 4)
    sum += LoadWord32(image.subspan(offset).first<4>(), ByteOrder::MostSignificantFirst);
  return sum == 0;
}

FileRead PrepareChecksummedImage(std::span<const std::uint8_t> file, const char* fileName,
                                 ChecksummedImage& image, FileMessages& out) {
  if (LoadBinaryImageFile(file, fileName, HEADER_BYTES, image.bytes, out) != FileRead::Taken)
    return FileRead::Refused;
  const std::size_t fileLength = file.size();
  std::vector<std::uint8_t>& bytes = image.bytes;

  // The drive sums the image as 32-bit words, most significant byte first.
  // The bytes between the file's end and the next whole word keep the
  // erased-flash value 0xFF the buffer was filled with, and count in the sum
  // like any other.
  const std::size_t padded = (fileLength + 3) / 4 * 4;
  const std::size_t words = padded / 4;
  const std::span<std::uint8_t> all(bytes);

  StoreWord32(all.subspan(0).first<4>(), CHECKSUMMED_IMAGE_MAGIC, ByteOrder::MostSignificantFirst);
  // The word count includes the check word that follows the data.
  StoreWord32(all.subspan(4).first<4>(), static_cast<std::uint32_t>(words + 1),
              ByteOrder::MostSignificantFirst);

  std::uint32_t sum = 0;
  for (std::size_t offset = 0; offset < padded; offset += 4) {
    sum += LoadWord32(all.subspan(offset).first<4>(), ByteOrder::MostSignificantFirst);
  }
  // The check word makes the whole image, itself included, sum to zero.
  StoreWord32(all.subspan(padded).first<4>(), 0u - sum, ByteOrder::MostSignificantFirst);

  // The last block sent is filled out with the 0xFF that the buffer already
  // holds from the check word on.
  image.length = static_cast<int>(padded + 4);
  return FileRead::Taken;
}

}  // namespace kelvane
