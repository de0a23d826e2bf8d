#include "flash/firmware_source.h"

namespace kelvane {

namespace {

void PrintCannotOpen(const RunOptions& options, std::FILE* out) {
  std::fprintf(out, "Can't open file %s\r\n", FileNameForDisplay(options));
}

}  // namespace

FirmwareFile OpenNamedFirmwareFile(const RunOptions& options, std::FILE* out) {
  FirmwareFile file;
  if (options.fileName) file = OpenFirmwareFile(options.fileName->c_str());
  if (!file) PrintCannotOpen(options, out);
  return file;
}

const char* BinaryImageFileName(const RunOptions& options, std::FILE* out) {
  if (options.fileName) return options.fileName->c_str();
  PrintCannotOpen(options, out);
  return nullptr;
}

}  // namespace kelvane
