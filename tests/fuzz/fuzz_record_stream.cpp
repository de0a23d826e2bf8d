// Arbitrary bytes given to the record stream reader as an S2/S3 file: the
// reader must stay inside its area, and a stream it accepts must be whole
// records (type digit, count, that many bytes) closed by FF FF.
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "image/record_stream.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Allocated once (a 256000-byte buffer per input would dominate the run);
// the small one makes the overflow refusal reachable with short inputs.
std::vector<std::uint8_t>& AreaFor(std::size_t size) {
  static std::vector<std::uint8_t> small(512, 0xFF);
  static std::vector<std::uint8_t> nym(kelvane::NYM_IMAGE_AREA, 0xFF);
  return size % 2 == 0 ? small : nym;
}

bool IsRecordType(std::uint8_t type) {
  return type == '2' || type == '3' || type == '7' || type == '8';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::fuzz::MemoryFile file(data, size);
  kelvane::fuzz::NullOutput out;
  std::vector<std::uint8_t>& area = AreaFor(size);
  int length = 0;
  const int result = kelvane::ReadRecordStream(file.get(), area, length, out.get(), out.get());
  if (result != 0 && result != 1) __builtin_trap();
  if (result != 0) return 0;
  if (length < 2 || static_cast<std::size_t>(length) >= area.size()) __builtin_trap();
  std::size_t at = 0;
  const std::size_t end = static_cast<std::size_t>(length) - 2;
  while (at < end) {
    if (!IsRecordType(area[at]) || at + 1 >= end) __builtin_trap();
    at += 2 + area[at + 1];
  }
  if (at != end || area[end] != 0xFF || area[end + 1] != 0xFF) __builtin_trap();
  return 0;
}
