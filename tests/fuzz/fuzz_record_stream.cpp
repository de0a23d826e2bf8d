// Any bytes as a Nym file (S-records, Intel HEX or ELF): the reader stays
// inside its area, and a stream it accepts is whole records (type digit,
// count, bytes) closed by FF FF.
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/file_messages.h"
#include "image/record_stream.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> file = kelvane::fuzz::Input(data, size);
  kelvane::FileMessages said;  // what a run would print, not under test here
  // Allocated once; the small area makes the overflow refusal reachable.
  static std::vector<std::uint8_t> small(512, 0xFF), nym(kelvane::NYM_IMAGE_AREA, 0xFF);
  std::vector<std::uint8_t>& area = size % 2 == 0 ? small : nym;
  int length = 0;
  if (kelvane::ReadRecordStream(file, area, length, said) != kelvane::FileRead::Taken) return 0;
  if (length < 2 || static_cast<std::size_t>(length) >= area.size()) __builtin_trap();
  std::size_t at = 0;
  const std::size_t end = static_cast<std::size_t>(length) - 2;
  while (at < end) {
    if (std::string_view("2378").find(char(area[at])) == std::string_view::npos || at + 1 >= end)
      __builtin_trap();
    at += 2 + area[at + 1];
  }
  if (at != end || area[end] != 0xFF || area[end + 1] != 0xFF) __builtin_trap();
  return 0;
}
