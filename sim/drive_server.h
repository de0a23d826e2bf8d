#pragma once

#include <cstdio>

#include "sim/sim_options.h"

namespace kelvane::sim {

// Serves one simulated drive on its line until SIGTERM or SIGINT, or until
// --hangup-after is reached: prints the line's path alone on the first line
// of `out`, then answers requests. Saves --flash-out and removes --link on
// the way out. Returns the exit status: 0 after a stop, 1 when the line or
// an output file fails, 2 when an input file named on the command line is
// unusable. Messages go to `err`.
int ServeDrive(const SimOptions& options, std::FILE* out, std::FILE* err);

}  // namespace kelvane::sim
