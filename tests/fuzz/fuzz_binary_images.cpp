// Any file built into both TK720 images: whole 32-bit words inside the
// buffer, and the checksummed one sums to 0.
#include <cstdint>
#include <vector>

#include "image/checksummed_image.h"
#include "image/digest_stamped_image.h"
#include "image/file_messages.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  const std::vector<std::uint8_t> file = fuzz::Input(data, size);
  FileMessages said;  // what a run would print, not under test here
  ChecksummedImage image;
  if (PrepareChecksummedImage(file, "fw.bin", image, said) == FileRead::Taken) {
    const auto& b = image.bytes;
    if (image.length % 4 != 0 || std::size_t(image.length) + 256 > b.size()) __builtin_trap();
    std::uint32_t sum = 0;
    for (int i = 0; i < image.length; i += 4)
      sum += (std::uint32_t{b[i]} << 24) | (b[i + 1] << 16) | (b[i + 2] << 8) | b[i + 3];
    if (sum != 0) __builtin_trap();
  }
  DigestStampedImage stamped;
  if (PrepareDigestStampedImage(file, "fw.bin", 0x12345678, stamped, said) == FileRead::Taken &&
      (stamped.length % 4 != 0 || std::size_t(stamped.length) > stamped.bytes.size()))
    __builtin_trap();
  return 0;
}
