#pragma once

#include <cstdio>

#include "flash/run_options.h"
#include "run/drive_families.h"

namespace kelvane {

// Prepares the file exactly as the family's procedure would, with the same
// messages, and sums up what a run would send, without opening any port.
enum class DryRunEnd { WouldRun, FileRefused };
DryRunEnd RunDryRun(const RunOptions& options, const DriveFamily& family, std::FILE* out,
                    std::FILE* err);

}  // namespace kelvane
