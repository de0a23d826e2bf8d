#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "flash/run_options.h"

namespace kelvane {

// How an argument that begins with "/" and holds a second "/" is read. On
// Windows it is an option like any other; on POSIX it is an absolute file
// path (the shell turns ~/fw.s into /home/...), unless it is /c<device path>.
enum class PathRule { Windows, Posix };

// Refused: an option's value is out of range, or two options do not go
// together; the line saying so is printed and the run ends with status 1
// before any port is opened. VersionShown: the banner, which names the
// version, is all that was asked for.
enum class OptionsOutcome { Run, HelpShown, VersionShown, Refused };

// What only a station's command line holds: every /c adds a drive's port,
// /o<folder> asks for a transcript of each drive.
struct StationOptions {
  struct Port {
    int portNumber = 1;
    std::optional<std::string> devicePath;
  };
  std::vector<Port> ports;
  std::optional<std::string> transcriptFolder;
};

// Reads the arguments (entry 0, the program's name, is skipped) into
// `options`. Prints "Unknown option" lines and, when the help option is
// reached, the usage screen, to `out`. As users of other programs type them,
// -h, --help and -? show the usage screen too, and --version ends the run
// after the banner, when that word is the only file name and no file has it.
// With `station`, the arguments are a station's: /c adds a port, /o names
// the transcripts' folder, /u is refused, and the help is left to the
// station to show. A /b or /c value that is not plain digits is read as it
// always was and said back, as read, on `err` (when given).
OptionsOutcome ReadOptions(std::span<const char* const> arguments, PathRule rule,
                           RunOptions& options, std::FILE* out, StationOptions* station = nullptr,
                           std::FILE* err = nullptr);

void PrintBanner(std::FILE* out);
void PrintUsage(std::FILE* out);
// The line both programs give when the options name nothing to load, with
// `lineEnd` added: kelvane's "\r\n", as its every line ends, or the
// station's "\n".
void PrintNoFirmwareFile(std::FILE* out, const char* lineEnd);

}  // namespace kelvane
