#pragma once

#include "flash/block_passes.h"

namespace kelvane {

// Makes Ctrl-C (SIGINT and SIGTERM; on Windows the console's control
// handler) set `stop`, which the runs look at between blocks: they stop
// there, give every port its settings back, record the run as interrupted
// and end. A second Ctrl-C ends the process at once, as the system ends a
// program that does not handle it. Called once by a program's main with a
// flag that lives as long as the process.
void StopOnInterrupt(StopFlag& stop);

}  // namespace kelvane
