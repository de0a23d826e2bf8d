#include "run/interrupted_status.h"

namespace kelvane {

int InterruptedStatus() {
  return 130;
}

}  // namespace kelvane
