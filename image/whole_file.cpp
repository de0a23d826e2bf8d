#include "image/whole_file.h"

#include <cstdio>

#include "image/firmware_file.h"

namespace kelvane {

std::string TemporaryName(const char* fileName) {
  return std::string(fileName) + ".kelvane-part";
}

bool CanSaveFile(const char* fileName) {
  const std::string temporary = TemporaryName(fileName);
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  std::fclose(file);
  std::remove(temporary.c_str());
  return true;
}

FileSave SaveWholeFile(const char* fileName, std::span<const std::uint8_t> bytes) {
  const std::string temporary = TemporaryName(fileName);
  InterruptsHeld held;
  FirmwareFile file(std::fopen(temporary.c_str(), "wb"));
  if (!file) return FileSave::NotSaved;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  // Closing flushes: a full disk may only show here.
  if (std::fclose(file.release()) != 0 || !written || !RenameOver(temporary.c_str(), fileName)) {
    std::remove(temporary.c_str());
    return FileSave::NotSaved;
  }
  return FileSave::Saved;
}

}  // namespace kelvane
