#include "flash/firmware_source.h"

#include "image/firmware_file.h"

namespace kelvane {

bool ReadNamedFirmwareFile(const RunOptions& options, std::vector<std::uint8_t>& bytes,
                           FileMessages& out) {
  if (!options.fileName) {
    out.Refuse("Can't open file %s\r\n", FileNameForDisplay(options));
    return false;
  }
  return ReadFirmwareFile(options.fileName->c_str(), bytes, out) == FileRead::Taken;
}

}  // namespace kelvane
