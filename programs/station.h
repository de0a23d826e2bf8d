#pragma once

#include <cstdio>
#include <span>

#include "flash/block_passes.h"
#include "programs/command_line.h"

namespace kelvane {

// A station never loads more drives at once than this.
inline constexpr std::size_t MAX_STATION_PORTS = 64;

// kelvane-station: one firmware into many drives at once, one thread per
// port, each running the same drive run kelvane does on the one image
// prepared before any port is opened. Shows the drives' progress on `out`
// (a table redrawn in place when `out` is a terminal, plain lines
// otherwise), then a summary. Returns 0 when every drive verified, 1 when
// any failed, 2 when none failed but some did not match, InterruptedStatus()
// after Ctrl-C.
int RunStation(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err, const StopFlag* stop = nullptr);

void PrintStationUsage(std::FILE* out);

}  // namespace kelvane
