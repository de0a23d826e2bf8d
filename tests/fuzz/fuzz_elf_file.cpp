// Any bytes as an ELF file: the reader hands out only bytes the file holds
// (AddressSanitizer watches the buffer's end), at 32-bit addresses, and no
// two segments it hands out share an address.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/elf_file.h"
#include "image/file_messages.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Checked : kelvane::DataSink {
  bool TakeData(std::uint64_t address, std::span<const std::uint8_t> bytes,
                kelvane::Origin) override {
    if (bytes.empty() || address + bytes.size() > (std::uint64_t{1} << 32)) __builtin_trap();
    for (const std::uint8_t byte : bytes) sum += byte;  // every byte read
    for (const auto& [first, end] : taken)
      if (address < end && first < address + bytes.size()) __builtin_trap();
    taken.emplace_back(address, address + bytes.size());
    return true;
  }
  void TakeStart(std::uint64_t address, kelvane::Origin) override {
    if (address >= std::uint64_t{1} << 32) __builtin_trap();
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;
  unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  const std::vector<std::uint8_t> file = fuzz::Input(data, size);
  FileMessages said;  // what a run would print, not under test here
  Checked sink;
  std::string format;
  const int result = ReadElfFile(file, sink, said, format);
  if (result == 0 && (sink.taken.empty() || !HoldsElfHeader(file))) __builtin_trap();
  return 0;
}
