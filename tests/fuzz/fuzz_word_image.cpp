// Arbitrary bytes given to the word image reader as an S1/S2 file: whatever
// the file holds, the reader must stay inside its area and end with 0 or 1.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/word_image.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::fuzz::MemoryFile file(data, size);
  kelvane::fuzz::NullOutput out;
  std::vector<std::uint8_t> area(kelvane::TL3XX_IMAGE_AREA, 0xFF);
  int length = 0;
  int result = kelvane::ReadWordImage(file.get(), area, 65919, length, out.get());
  if (result == 0 && (length < 4 || length > 65919)) __builtin_trap();
  return 0;
}
