#pragma once

#include <cstdint>
#include <vector>

#include "flash/run_options.h"
#include "image/file_messages.h"

namespace kelvane {

// Reads the whole file the command line named into `bytes`, once: every
// image and the journal's hash are made of these bytes. False, after "Can't
// open file" (the name shown as "(null)" when none was given) or "Can't
// read file", when it cannot be read.
bool ReadNamedFirmwareFile(const RunOptions& options, std::vector<std::uint8_t>& bytes,
                           FileMessages& out);

}  // namespace kelvane
