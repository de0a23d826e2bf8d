#pragma once

#include <cstdio>
#include <span>

#include "programs/command_line.h"
#include "programs/interrupt.h"

namespace kelvane {

// Puts stdout in binary mode where the system has a text mode, and returns
// the system's path rule.
PathRule PrepareConsole();

// What a program's main hands its arguments to.
using ProgramBody = int (*)(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
                            std::FILE* err, const StopFlag* stop);

// The set-up both programs begin with, then `body`: stdout written byte for
// byte (the programs write their own "\r\n", which a Windows console stream
// in text mode would make CR CR LF), the system's path rule, and Ctrl-C
// setting the flag the runs look at between blocks.
int RunConsoleProgram(int argc, char** argv, ProgramBody body);

}  // namespace kelvane
