// Arbitrary bytes given to the record stream reader as an S2/S3 file.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/record_stream.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::fuzz::MemoryFile file(data, size);
  kelvane::fuzz::NullOutput out;
  // A small area makes the overflow check reachable with short inputs.
  std::vector<std::uint8_t> area(size % 2 == 0 ? 512 : kelvane::NYM_IMAGE_AREA, 0xFF);
  int length = 0;
  int result = kelvane::ReadRecordStream(file.get(), area, length, out.get());
  if (result == 0 && (length < 2 || static_cast<std::size_t>(length) >= area.size()))
    __builtin_trap();
  return 0;
}
