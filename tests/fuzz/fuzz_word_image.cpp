// Arbitrary bytes given to the word image reader as an S1/S2 file, with the
// TL3xx and the 27 series image areas: whatever the file holds, the reader
// must stay inside its area and end with 0 or 1, and an image it accepts must
// be whole 16-bit words closed by the checksum of those words.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "image/word_image.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Area {
  std::vector<std::uint8_t> bytes;
  int maxLength;
};

// Allocated once: a fresh 140000-byte buffer per input would cost more than
// the reading. The heap buffers keep AddressSanitizer's guard zones around
// them, so a store past the end still shows.
Area& AreaFor(std::size_t size) {
  static Area tl3xx{std::vector<std::uint8_t>(kelvane::TL3XX_IMAGE_AREA), 65919};
  static Area series27{std::vector<std::uint8_t>(kelvane::SERIES27_IMAGE_AREA), 139775};
  return size % 2 == 0 ? tl3xx : series27;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::fuzz::MemoryFile file(data, size);
  kelvane::fuzz::NullOutput out;
  Area& area = AreaFor(size);
  std::memset(area.bytes.data(), 0xFF, area.bytes.size());
  int length = 0;
  const int result =
      kelvane::ReadWordImage(file.get(), area.bytes, area.maxLength, length, out.get(), out.get());
  if (result != 0 && result != 1) __builtin_trap();
  if (result != 0) return 0;
  if (length < 4 || length > area.maxLength || length % 2 != 0) __builtin_trap();
  // The last four bytes are the sum of the words before them, low byte first.
  std::uint32_t sum = 0;
  const std::size_t dataEnd = static_cast<std::size_t>(length) - 4;
  for (std::size_t i = 0; i < dataEnd; i += 2) {
    sum += area.bytes[i] + 256u * area.bytes[i + 1];
  }
  std::uint32_t stored = 0;
  for (int i = 3; i >= 0; --i) stored = stored * 256 + area.bytes[dataEnd + i];
  if (stored != sum) __builtin_trap();
  return 0;
}
