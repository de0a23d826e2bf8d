// Any bytes as an Intel HEX file for the Nym: the stream packed from a file the reader takes is
// whole S2/S3 records of at most 32 data bytes and one S7/S8, each with its own right checksum.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/file_messages.h"
#include "image/intel_hex.h"
#include "image/record_stream.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  const std::vector<std::uint8_t> file = fuzz::Input(data, size);
  static std::vector<std::uint8_t> area(NYM_IMAGE_AREA);
  std::fill(area.begin(), area.end(), 0xFF);
  FileMessages said;  // what a run would print, not under test here
  int length = 0;
  BeginsWithIntelHexRecord(file);
  if (!LooksLikeIntelHex(file) || ReadRecordStream(file, area, length, said) != FileRead::Taken)
    return 0;
  std::size_t at = 0, ends = 0;
  for (const std::size_t end = static_cast<std::size_t>(length) - 2; at < end;
       at += 2 + area[at + 1]) {
    const std::uint8_t type = area[at], count = area[at + 1];
    const unsigned addressBytes = type == '2' || type == '8' ? 3 : 4;
    ends += type == '7' || type == '8';
    if (count < addressBytes + 1 || count > addressBytes + 33) __builtin_trap();
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += area[at + 1 + i];
    if (static_cast<std::uint8_t>(~sum) != area[at + 1 + count]) __builtin_trap();
  }
  if (ends != 1 || at + 2 != static_cast<std::size_t>(length)) __builtin_trap();
  return 0;
}
