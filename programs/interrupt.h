#pragma once

#include "flash/block_passes.h"

namespace kelvane {

// While it lives, Ctrl-C (SIGINT and SIGTERM; on Windows the console's
// control handler) sets `stop`, which the runs look at between blocks: they
// stop there, give every port its settings back, record the run as
// interrupted and end. A second Ctrl-C ends the process at once, as the
// system ends a program that does not handle it. When it ends, the handler
// forgets the flag and the system's own handling is back. One lives at a
// time, made by a program's main around its body.
class InterruptStop {
 public:
  explicit InterruptStop(StopFlag& stop);
  ~InterruptStop();
  InterruptStop(const InterruptStop&) = delete;
  InterruptStop& operator=(const InterruptStop&) = delete;
};

}  // namespace kelvane
