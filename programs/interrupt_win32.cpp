#include <windows.h>

#include <atomic>

#include "programs/interrupt.h"

namespace kelvane {

namespace {

// The one piece of process-wide state: the console's control handler is
// given no argument, so the flag of the living InterruptStop is reached
// through this pointer. It is set before the handler is installed and
// cleared after it is removed.
std::atomic<StopFlag*> registered{nullptr};

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  StopFlag* stop = registered.load();
  if (stop == nullptr) return FALSE;
  // The first Ctrl-C asks the runs to stop at a block boundary; a second
  // one is left to the system's own handler, which ends the process at once.
  return stop->exchange(true) ? FALSE : TRUE;
}

}  // namespace

InterruptStop::InterruptStop(StopFlag& stop) {
  registered.store(&stop);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptStop::~InterruptStop() {
  SetConsoleCtrlHandler(OnControl, FALSE);
  registered.store(nullptr);
}

}  // namespace kelvane
