#include "flash/firmware_source.h"

namespace kelvane {

namespace {

void RefuseCannotOpen(const RunOptions& options, FileMessages& out) {
  out.Refuse("Can't open file %s\r\n", FileNameForDisplay(options));
}

}  // namespace

FirmwareFile OpenNamedFirmwareFile(const RunOptions& options, FileMessages& out) {
  FirmwareFile file;
  if (options.fileName) file = OpenFirmwareFile(options.fileName->c_str());
  if (!file) RefuseCannotOpen(options, out);
  return file;
}

const char* BinaryImageFileName(const RunOptions& options, FileMessages& out) {
  if (options.fileName) return options.fileName->c_str();
  RefuseCannotOpen(options, out);
  return nullptr;
}

}  // namespace kelvane
