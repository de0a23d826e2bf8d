// Any bytes as a TL3xx or 27 series file (S-records, Intel HEX or ELF): the reader
// stays inside its area, and an image it accepts is whole 16-bit words closed
// by their checksum.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/file_messages.h"
#include "image/word_image.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  const std::vector<std::uint8_t> file = fuzz::Input(data, size);
  FileMessages said;  // what a run would print, not under test here
  // Allocated once, on the heap, where AddressSanitizer still guards the end.
  static std::vector<std::uint8_t> tl3xx(TL3XX_IMAGE_AREA), series27(SERIES27_IMAGE_AREA);
  std::vector<std::uint8_t>& bytes = size % 2 == 0 ? tl3xx : series27;
  const int maxLength = size % 2 == 0 ? 65919 : 139775;
  std::memset(bytes.data(), 0xFF, bytes.size());
  int length = 0;
  if (ReadWordImage(file, bytes, maxLength, length, said) != FileRead::Taken) return 0;
  if (length < 4 || length > maxLength || length % 2 != 0) __builtin_trap();
  // The last four bytes are the sum of the words before them, low byte first.
  std::uint32_t sum = 0;
  const std::size_t dataEnd = static_cast<std::size_t>(length) - 4;
  for (std::size_t i = 0; i < dataEnd; i += 2) sum += bytes[i] + 256u * bytes[i + 1];
  std::uint32_t stored = 0;
  for (int i = 3; i >= 0; --i) stored = stored * 256 + bytes[dataEnd + i];
  if (stored != sum) __builtin_trap();
  return 0;
}
