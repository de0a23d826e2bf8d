#include "programs/console_program.h"

namespace kelvane {

int RunConsoleProgram(int argc, char** argv, ProgramBody body) {
  const PathRule rule = PrepareConsole();
  // Ctrl-C's flag lives as long as the body; the handler forgets it when the
  // body returns.
  StopFlag stop{false};
  const InterruptStop interrupts(stop);
  const auto arguments = std::span<const char* const>(argv, static_cast<std::size_t>(argc));
  return body(arguments, rule, stdout, stderr, &stop);
}

}  // namespace kelvane
