#include "programs/console_program.h"

namespace kelvane {

// A POSIX stream writes its bytes as they are.
PathRule PrepareConsole() {
  return PathRule::Posix;
}

}  // namespace kelvane
