#pragma once

#include "api/kelvane.h"
#include "flash/block_passes.h"

// What a stop request sets: the flag every run holding the token polls at
// each block and link attempt.
struct kelvane_stop {
  kelvane::StopFlag flag{false};
};
