#include <unistd.h>

#include "programs/terminal.h"

namespace kelvane {

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

bool EnableCursorMoves(std::FILE* stream) {
  return IsTerminal(stream);
}

}  // namespace kelvane
