#include <signal.h>

#include <cstdio>
#include <cstring>

#include "image/whole_file.h"

namespace kelvane {

static_assert(sizeof(sigset_t) <= 128, "InterruptsHeld keeps the signal mask it replaced");

bool RenameOver(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

// Blocked, the signals stay pending and end the run once the file is whole.
InterruptsHeld::InterruptsHeld() {
  sigset_t held, saved;
  sigemptyset(&held);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
  sigprocmask(SIG_BLOCK, &held, &saved);
  std::memcpy(saved_, &saved, sizeof saved);
}

InterruptsHeld::~InterruptsHeld() {
  sigset_t saved;
  std::memcpy(&saved, saved_, sizeof saved);
  sigprocmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace kelvane
