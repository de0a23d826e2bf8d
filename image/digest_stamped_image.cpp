#include "image/digest_stamped_image.h"

#include <cstddef>

#include "digest/md5_digest.h"
#include "image/binary_file.h"
#include "link/drive_commands.h"

namespace kelvane {

namespace {

// Digest (16 bytes) and time stamp (4 bytes): the part of the image the
// digest does not cover.
constexpr std::size_t STAMP_BYTES = 20;
// The length field that opens the digested part.
constexpr std::size_t LENGTH_FIELD_BYTES = 4;

}  // namespace

FileRead PrepareDigestStampedImage(std::span<const std::uint8_t> file, const char* fileName,
                                   std::uint32_t timeStamp, DigestStampedImage& image,
                                   FileMessages& out) {
  if (LoadBinaryImageFile(file, fileName, STAMP_BYTES + LENGTH_FIELD_BYTES, image.bytes, out) ==
      FileRead::Refused) {
    return FileRead::Refused;
  }
  const std::size_t fileLength = file.size();
  const std::span<std::uint8_t> all(image.bytes);

  // The image is sent in whole 32-bit words; the bytes up to the next word
  // boundary stay 0xFF, as the buffer was filled, and are digested with the
  // rest.
  const std::size_t padded = (fileLength + 3) / 4 * 4;
  const std::size_t digestedBytes = padded - STAMP_BYTES;

  // The drive reads the length field most significant byte first, but takes
  // the time stamp in the PC's own order.
  StoreWord32(all.subspan(STAMP_BYTES).first<4>(), static_cast<std::uint32_t>(digestedBytes),
              ByteOrder::MostSignificantFirst);
  StoreWord32(all.subspan(16).first<4>(), timeStamp, ByteOrder::LeastSignificantFirst);

  // The digest leaves the time stamp out, so the same file always gives the
  // same digest, which is what the drive reports back once it holds it.
  Md5Digest(all.first<16>(), all.subspan(STAMP_BYTES, digestedBytes));

  image.length = static_cast<int>(padded);
  char digest[2 * 16 + 1];
  for (std::size_t i = 0; i < 16; ++i)
    std::snprintf(digest + 2 * i, 3, "%02X", static_cast<unsigned>(image.digest()[i]));
  out.Note("Image size : %d\nFile MD5 : %s\n\n", static_cast<int>(digestedBytes), digest);
  return FileRead::Taken;
}

}  // namespace kelvane
