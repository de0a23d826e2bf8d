#include <cstdio>
#include <span>

#include "programs/command_line.h"
#include "programs/interrupt.h"
#include "programs/station.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Transcripts and the table carry their own line ends.
  _setmode(_fileno(stdout), _O_BINARY);
  constexpr kelvane::PathRule rule = kelvane::PathRule::Windows;
#else
  constexpr kelvane::PathRule rule = kelvane::PathRule::Posix;
#endif
  // Ctrl-C's flag lives as long as the process, so its handler can reach it.
  static kelvane::StopFlag stop{false};
  kelvane::StopOnInterrupt(stop);
  const auto arguments = std::span<const char* const>(argv, static_cast<std::size_t>(argc));
  return kelvane::RunStation(arguments, rule, stdout, stderr, &stop);
}
