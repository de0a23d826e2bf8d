#pragma once

#include <cstdio>
#include <memory>

namespace kelvane {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FirmwareFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a firmware file for reading, always in binary mode: the S-record
// readers fold DOS line ends themselves, so a file reads the same on every
// platform. A directory or anything else that is not a readable file gives
// null, so that the caller reports "Can't open file".
FirmwareFile OpenFirmwareFile(const char* fileName);

}  // namespace kelvane
