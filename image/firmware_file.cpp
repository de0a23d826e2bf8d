#include "image/firmware_file.h"

#include <sys/stat.h>

#include <climits>
#include <new>

namespace kelvane {

FirmwareFile OpenFirmwareFile(const char* fileName) {
  if (fileName == nullptr) return nullptr;
  FirmwareFile file(std::fopen(fileName, "rb"));
  if (!file) return nullptr;
  // Some C libraries open a directory for reading and fail only on the first
  // read; refuse it here so that it is reported as a file that cannot be
  // opened, like a missing one.
  struct stat status;
  if (fstat(fileno(file.get()), &status) != 0) return nullptr;
  if ((status.st_mode & S_IFMT) == S_IFDIR) return nullptr;
  return file;
}

FileRead ReadFirmwareFile(const char* fileName, std::vector<std::uint8_t>& bytes,
                          FileMessages& out) {
  FirmwareFile file = OpenFirmwareFile(fileName);
  if (!file) {
    out.Refuse("Can't open file %s\r\n", fileName != nullptr ? fileName : "(null)");
    return FileRead::Refused;
  }
  long length = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) length = std::ftell(file.get());
  bool read = length >= 0 && std::fseek(file.get(), 0, SEEK_SET) == 0;
  // The image length travels as an int: a file longer than that cannot be
  // loaded, whatever its format.
  if (read && length > INT_MAX / 2) {
    out.Refuse("Not enough memory to load file %s\r\n", fileName);
    return FileRead::Refused;
  }
  if (read) {
    try {
      bytes.assign(static_cast<std::size_t>(length), 0);
    } catch (const std::bad_alloc&) {
      out.Refuse("Not enough memory to load file %s\r\n", fileName);
      return FileRead::Refused;
    }
    read = std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  }
  if (!read) {
    out.Refuse("Can't read file %s\r\n", fileName);
    return FileRead::Refused;
  }
  return FileRead::Taken;
}

}  // namespace kelvane
