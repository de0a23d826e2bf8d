#include "image/firmware_file.h"

#include <sys/stat.h>

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

}  // namespace kelvane
