// Any bytes as an Intel HEX file: every byte the reader gives lies at a
// 32-bit address, and the Nym stream packed from a file it accepts is whole
// records of at most 32 data bytes, each with its own right checksum.
#include <cstdint>
#include <vector>

#include "image/file_messages.h"
#include "image/intel_hex.h"
#include "image/record_stream.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Checked : kelvane::DataSink {
  bool TakeData(std::uint64_t address, std::span<const std::uint8_t> bytes,
                kelvane::Origin) override {
    if (address + bytes.size() > (std::uint64_t{1} << 32)) __builtin_trap();
    for (const std::uint8_t byte : bytes) sum += byte;  // every byte read
    return true;
  }
  void TakeStart(std::uint64_t address, kelvane::Origin) override {
    if (address >= std::uint64_t{1} << 32) __builtin_trap();
  }
  unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  const std::vector<std::uint8_t> file = fuzz::Input(data, size);
  FileMessages said;  // what a run would print, not under test here
  Checked sink;
  if (ReadIntelHex(file, sink, said) != 0 && BeginsWithIntelHexRecord(file) &&
      said.ConsoleText().find("(file:1)") != std::string::npos &&
      said.ConsoleText().find("checksum") != std::string::npos)
    __builtin_trap();  // a first line taken for a whole record has a right checksum
  if (!LooksLikeIntelHex(file)) return 0;
  static std::vector<std::uint8_t> area(NYM_IMAGE_AREA);
  std::fill(area.begin(), area.end(), 0xFF);
  int length = 0;
  if (ReadRecordStream(file, area, length, said) != 0) return 0;
  std::size_t at = 0;
  const std::size_t end = static_cast<std::size_t>(length) - 2;
  while (at < end) {
    const std::uint8_t type = area[at], count = area[at + 1];
    const std::size_t addressBytes = type == '2' || type == '8' ? 3 : 4;
    if (count < addressBytes + 1 || count > addressBytes + 33) __builtin_trap();
    unsigned sum = count;
    for (std::size_t i = 0; i + 1 < count; ++i) sum += area[at + 2 + i];
    if (static_cast<std::uint8_t>(~sum) != area[at + 1 + count]) __builtin_trap();
    at += 2 + count;
  }
  if (at != end) __builtin_trap();
  return 0;
}
