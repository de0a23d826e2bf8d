#include <sys/ioctl.h>
#include <unistd.h>

#include "programs/terminal.h"

namespace kelvane {

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

bool EnableCursorMoves(std::FILE* stream) {
  return IsTerminal(stream);
}

TerminalSize TerminalSizeOf(std::FILE* stream) {
  winsize window{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &window) != 0) return {};
  return {.lines = window.ws_row, .columns = window.ws_col};
}

}  // namespace kelvane
