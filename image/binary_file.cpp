#include "image/binary_file.h"

#include <climits>
#include <new>

#include "image/firmware_file.h"

namespace kelvane {

namespace {

// The image length travels as an int, rounded up to whole words with the
// check word after it; a file too long for that cannot be loaded.
constexpr long LONGEST_BINARY_IMAGE_FILE = INT_MAX - static_cast<long>(BINARY_IMAGE_SLACK);

const char* NameForDisplay(const char* fileName) {
  return fileName != nullptr ? fileName : "(null)";
}

}  // namespace

int LoadBinaryImageFile(const char* fileName, std::size_t headerLength,
                        std::vector<std::uint8_t>& bytes, std::size_t& fileLength,
                        FileMessages& out) {
  FirmwareFile file = OpenFirmwareFile(fileName);
  if (!file) {
    out.Refuse("Can't open file %s\r\n", NameForDisplay(fileName));
    return 1;
  }

  long length = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) length = std::ftell(file.get());
  if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
    out.Refuse("Can't read file %s\r\n", NameForDisplay(fileName));
    return 1;
  }
  if (length == 0) {
    out.Refuse("File is empty. Nothing to load.\r\n");
    return 1;
  }
  if (static_cast<std::size_t>(length) < headerLength) {
    out.Refuse("File is too short for the image header. Nothing to load.\r\n");
    return 1;
  }
  if (length > LONGEST_BINARY_IMAGE_FILE) {
    out.Refuse("Not enough memory to load file %s\r\n", NameForDisplay(fileName));
    return 1;
  }

  const std::size_t size = static_cast<std::size_t>(length);
  try {
    bytes.assign(size + BINARY_IMAGE_SLACK, 0xFF);
  } catch (const std::bad_alloc&) {
    out.Refuse("Not enough memory to load file %s\r\n", NameForDisplay(fileName));
    return 1;
  }
  if (std::fread(bytes.data(), 1, size, file.get()) != size) {
    out.Refuse("Can't read file %s\r\n", NameForDisplay(fileName));
    return 1;
  }
  fileLength = size;
  return 0;
}

}  // namespace kelvane
