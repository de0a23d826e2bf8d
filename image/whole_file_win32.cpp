#include <windows.h>

#include "image/whole_file.h"

namespace kelvane {

bool RenameOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Ctrl-C is ignored while the file is written and renamed.
InterruptsHeld::InterruptsHeld() : saved_{} {
  SetConsoleCtrlHandler(nullptr, TRUE);
}

InterruptsHeld::~InterruptsHeld() {
  SetConsoleCtrlHandler(nullptr, FALSE);
}

}  // namespace kelvane
