#pragma once

namespace kelvane {

// The exit status of a run stopped by Ctrl-C: the shell's 128 + SIGINT on
// POSIX; Windows has no such convention, and its programs end with 1.
int InterruptedStatus();

}  // namespace kelvane
