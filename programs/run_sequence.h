#pragma once

#include <chrono>
#include <cstdio>
#include <span>
#include <string>

#include "programs/command_line.h"
#include "run/drive_families.h"
#include "run/drive_run.h"

namespace kelvane {

// One whole run: banner, options, port, link, identity, the family's
// procedure; or, as the options ask, the port list or a dry run. Everything
// the run says goes to `out`; `err` gets the link trace and the one extra
// line that says why a port did not open, why a record line was too long or
// why the journal cannot be written. `stop`, set by Ctrl-C, ends the run at
// the next block boundary. Returns the exit status: 0, 1 after a failure, 2
// for a flash that does not match the file when the strict status was asked
// for, InterruptedStatus() after Ctrl-C.
int RunKelvane(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err, const StopFlag* stop = nullptr);

}  // namespace kelvane
