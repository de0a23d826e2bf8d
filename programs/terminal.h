#pragma once

#include <cstdio>

#include "report/station_board.h"

namespace kelvane {

// Whether `stream` is a terminal a person watches, rather than a pipe or a
// file: a station redraws its table in place only there.
bool IsTerminal(std::FILE* stream);

// Asks the terminal behind `stream` to take the cursor-moving escape
// sequences the station's table is redrawn with (a Windows console takes
// them only once asked). False when it will not.
bool EnableCursorMoves(std::FILE* stream);

// The size of the window of the terminal behind `stream`, as it is now;
// zeros when it is no terminal or will not say.
TerminalSize TerminalSizeOf(std::FILE* stream);

}  // namespace kelvane
