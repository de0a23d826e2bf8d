#include <signal.h>

#include <atomic>

#include "programs/interrupt.h"

namespace kelvane {

namespace {

// The one piece of process-wide state: a signal handler is given no
// argument, so the flag of the living InterruptStop is reached through this
// pointer. It is set before the handler is installed and cleared after the
// system's handling is back.
std::atomic<StopFlag*> registered{nullptr};

void OnInterrupt(int /*signal*/) {
  // The first Ctrl-C asks the runs to stop at a block boundary. The handler
  // was reset as it was entered (SA_RESETHAND), so a second one ends the
  // process at once, as an unhandled Ctrl-C does.
  if (StopFlag* stop = registered.load()) stop->store(true);
}

}  // namespace

InterruptStop::InterruptStop(StopFlag& stop) {
  registered.store(&stop);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: a run notices the stop between blocks,
  // at most one 200 ms read time-out later.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

InterruptStop::~InterruptStop() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  registered.store(nullptr);
}

}  // namespace kelvane
