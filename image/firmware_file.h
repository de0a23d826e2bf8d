#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "image/file_messages.h"

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

// Reads the whole firmware file `fileName` into `bytes` with one read, so
// that the image is built from, and the journal's hash taken of, the very
// same bytes, even when the file is replaced while a run goes on. Refused
// after saying "Can't open file" or "Can't read file" in `out`.
FileRead ReadFirmwareFile(const char* fileName, std::vector<std::uint8_t>& bytes,
                          FileMessages& out);

}  // namespace kelvane
