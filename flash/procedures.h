#pragma once

#include <cstdio>

#include "driver/run_options.h"
#include "link/serial_port.h"

namespace kelvane {

// Each family's program-and-verify procedure, run once the link is up and the
// identity shown. Returns 0 after the verdict line, whether or not the drive
// matched the file, and 1 after the message of a failure.
int RunNymProcedure(SerialPort& port, const RunOptions& options, std::FILE* out);
int RunTL3xxProcedure(SerialPort& port, const RunOptions& options, std::FILE* out);
int Run27SeriesProcedure(SerialPort& port, const RunOptions& options, std::FILE* out);
int RunTK720Procedure(SerialPort& port, const RunOptions& options, std::FILE* out);
int RunTK720DigestProcedure(SerialPort& port, const RunOptions& options, std::FILE* out);

}  // namespace kelvane
