#include <fcntl.h>
#include <io.h>

#include "programs/console_program.h"

namespace kelvane {

PathRule PrepareConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  return PathRule::Windows;
}

}  // namespace kelvane
