#pragma once

#include <cstdio>
#include <optional>

#include "flash/run_options.h"
#include "run/drive_families.h"

namespace kelvane {

// Prepares the file exactly as the family's procedure would, with the same
// messages, and sums up what a run would send, without opening any port.
enum class DryRunEnd { WouldRun, FileRefused };
DryRunEnd RunDryRun(const RunOptions& options, const DriveFamily& family, std::FILE* out,
                    std::FILE* err);

// What both programs may do without a drive, once the options are read:
// list the ports, refuse a command line that names nothing to load (the
// line ended by `lineEnd`, as the rest of the program's lines are), or show
// the dry run. The exit status when one of them ended the program; none
// when it goes on to the drives.
std::optional<int> RunWithoutDrive(const RunOptions& options, std::FILE* out, std::FILE* err,
                                   const char* lineEnd);

}  // namespace kelvane
