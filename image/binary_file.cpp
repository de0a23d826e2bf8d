#include "image/binary_file.h"

#include <algorithm>
#include <climits>
#include <new>

#include "image/elf_file.h"
#include "image/intel_hex.h"

namespace kelvane {

namespace {

// The image length travels as an int, rounded up to whole words with the
// check word after it; a file too long for that cannot be loaded.
constexpr std::size_t LONGEST_BINARY_IMAGE_FILE = INT_MAX - BINARY_IMAGE_SLACK;

const char* NameForDisplay(const char* fileName) {
  return fileName != nullptr ? fileName : "(null)";
}

bool IsHexDigit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

bool BeginsWithRecordLine(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4 || bytes[0] != 'S' || bytes[1] < '0' || bytes[1] > '9' ||
      !IsHexDigit(bytes[2]) || !IsHexDigit(bytes[3]))
    return false;
  for (std::size_t i = 4; i < bytes.size(); ++i) {
    const std::uint8_t c = bytes[i];
    if (c == '\n' || (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) return true;
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

FileRead LoadBinaryImageFile(std::span<const std::uint8_t> file, const char* fileName,
                             std::size_t headerLength, std::vector<std::uint8_t>& bytes,
                             FileMessages& out) {
  if (file.empty()) {
    out.Refuse("File is empty. Nothing to load.\r\n");
    return FileRead::Refused;
  }
  if (file.size() < headerLength) {
    out.Refuse("File is too short for the image header. Nothing to load.\r\n");
    return FileRead::Refused;
  }
  if (file.size() > LONGEST_BINARY_IMAGE_FILE) {
    out.Refuse("Not enough memory to load file %s\r\n", NameForDisplay(fileName));
    return FileRead::Refused;
  }
  if (BeginsWithRecordLine(file)) {
    out.Refuse("File %s is an S-record file: load it with no family option (Nym), /a or /9\r\n",
               NameForDisplay(fileName));
    return FileRead::Refused;
  }
  // What a toolchain writes besides S-records: the drive would get its text
  // or its headers as firmware.
  const char* format = BeginsWithIntelHexRecord(file) ? "an Intel HEX"
                       : HoldsElfHeader(file)         ? "an ELF"
                                                      : nullptr;
  if (format != nullptr) {
    out.Refuse("File %s is %s file: make a binary image of it with objcopy -O binary\r\n",
               NameForDisplay(fileName), format);
    return FileRead::Refused;
  }
  try {
    bytes.assign(file.size() + BINARY_IMAGE_SLACK, 0xFF);
  } catch (const std::bad_alloc&) {
    out.Refuse("Not enough memory to load file %s\r\n", NameForDisplay(fileName));
    return FileRead::Refused;
  }
  std::ranges::copy(file, bytes.begin());
  return FileRead::Taken;
}

}  // namespace kelvane
