#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace kelvane {

enum class DeviceFamily { Nym = 0, TL3xx = 1, TK720 = 2, Series27 = 3, TK720Digest = 4 };

enum class ClearMode { None = 0, EntireFlash = 1, ParametersSection = 2 };

struct RunOptions {
  int portNumber = 1;
  int baudRate = 38400;
  DeviceFamily family = DeviceFamily::Nym;
  bool verifyOnly = false;
  ClearMode clearMode = ClearMode::None;
  std::optional<std::string> fileName;
  // Set by /c followed by a path: the serial device itself, instead of COMn.
  std::optional<std::string> devicePath;
};

// How an argument that begins with "/" and holds a second "/" is read. On
// Windows it is an option like any other; on POSIX it is an absolute file
// path (the shell turns ~/fw.s into /home/...), unless it is /c<device path>.
enum class PathRule { Windows, Posix };

enum class OptionsOutcome { Run, HelpShown };

// Reads the arguments (entry 0, the program's name, is skipped) into
// `options`. Prints "Unknown option" lines and, when the help option is
// reached, the usage screen, to `out`.
OptionsOutcome ReadOptions(std::span<const char* const> arguments, PathRule rule,
                           RunOptions& options, std::FILE* out);

// The file name as messages show it: "(null)" when none was given.
const char* FileNameForDisplay(const RunOptions& options);

void PrintBanner(std::FILE* out);
void PrintUsage(std::FILE* out);

}  // namespace kelvane
