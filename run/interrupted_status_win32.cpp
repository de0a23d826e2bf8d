#include "run/interrupted_status.h"

namespace kelvane {

int InterruptedStatus() {
  return 1;
}

}  // namespace kelvane
