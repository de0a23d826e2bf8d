// Any bytes as an ELF file: the reader hands out only bytes the file holds (AddressSanitizer
// watches the buffer's end), at 32-bit addresses, no two segments sharing an address.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/elf_file.h"
#include "image/file_messages.h"
#include "tests/fuzz/fuzz_support.h"

struct Checked : kelvane::DataSink {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;
  unsigned sum = 0;
  bool TakeData(std::uint64_t at, std::span<const std::uint8_t> bytes, kelvane::Origin) override {
    if (bytes.empty() || at + bytes.size() > (std::uint64_t{1} << 32)) __builtin_trap();
    for (const std::uint8_t byte : bytes) sum += byte;  // every byte read
    for (const auto& [first, end] : taken)
      if (at < end && first < at + bytes.size()) __builtin_trap();
    taken.emplace_back(at, at + bytes.size());
    return true;
  }
  void TakeStart(std::uint64_t at, kelvane::Origin) override {
    if (at >> 32 != 0) __builtin_trap();
  }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> file = kelvane::fuzz::Input(data, size);
  kelvane::FileMessages said;  // what a run would print, not under test here
  Checked sink;
  std::string format;
  if (kelvane::ReadElfFile(file, sink, said, format) == kelvane::FileRead::Taken &&
      (sink.taken.empty() || !kelvane::HoldsElfHeader(file)))
    __builtin_trap();
  return 0;
}
