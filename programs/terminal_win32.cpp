#include <io.h>
#include <windows.h>

#include "programs/terminal.h"

namespace kelvane {

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

bool EnableCursorMoves(std::FILE* stream) {
  if (!IsTerminal(stream)) return false;
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

TerminalSize TerminalSizeOf(std::FILE* stream) {
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console, &info)) return {};
  // The visible window, not the whole buffer a console scrolls back over.
  return {.lines = info.srWindow.Bottom - info.srWindow.Top + 1,
          .columns = info.srWindow.Right - info.srWindow.Left + 1};
}

}  // namespace kelvane
