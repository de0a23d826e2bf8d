// Any file built into both TK720 images: whole 32-bit words inside the
// buffer, and the checksummed one sums to 0.
#include <cstdint>

#include "image/checksummed_image.h"
#include "image/digest_stamped_image.h"
#include "image/file_messages.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::fuzz::DiskFile file(data, size);
  kelvane::FileMessages said;  // what a run would print, not under test here

  kelvane::ChecksummedImage checksummed;
  if (kelvane::PrepareChecksummedImage(file.name.c_str(), checksummed, said) == 0) {
    if (checksummed.length % 4 != 0 ||
        static_cast<std::size_t>(checksummed.length) + 256 > checksummed.bytes.size())
      __builtin_trap();
    std::uint32_t sum = 0;
    for (int i = 0; i < checksummed.length; i += 4)
      sum += (std::uint32_t{checksummed.bytes[i]} << 24) | (checksummed.bytes[i + 1] << 16) |
             (checksummed.bytes[i + 2] << 8) | checksummed.bytes[i + 3];
    if (sum != 0) __builtin_trap();
  }

  kelvane::DigestStampedImage stamped;
  if (kelvane::PrepareDigestStampedImage(file.name.c_str(), 0x12345678, stamped, said) == 0) {
    if (stamped.length % 4 != 0 || static_cast<std::size_t>(stamped.length) > stamped.bytes.size())
      __builtin_trap();
  }
  return 0;
}
