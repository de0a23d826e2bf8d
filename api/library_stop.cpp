#include "api/library_stop.h"

#include <new>

extern "C" kelvane_stop* kelvane_stop_new(void) {
  return new (std::nothrow) kelvane_stop;
}

extern "C" void kelvane_stop_request(kelvane_stop* stop) {
  // An atomic store and nothing else, so that a signal handler may call it.
  if (stop != nullptr) stop->flag.store(true, std::memory_order_relaxed);
}

extern "C" void kelvane_stop_free(kelvane_stop* stop) {
  delete stop;
}
