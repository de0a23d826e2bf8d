#pragma once

#include "flash/run_options.h"
#include "image/file_messages.h"
#include "image/firmware_file.h"

namespace kelvane {

// Opens the S-record file the command line named. Null, after "Can't open
// file" (the name shown as "(null)" when none was given), when it cannot be
// read.
FirmwareFile OpenNamedFirmwareFile(const RunOptions& options, FileMessages& out);

// The binary image readers take the name itself; null when none was given,
// after the same "Can't open file" refusal they would say.
const char* BinaryImageFileName(const RunOptions& options, FileMessages& out);

}  // namespace kelvane
