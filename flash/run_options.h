#pragma once

#include <optional>
#include <string>

namespace kelvane {

enum class DeviceFamily { Nym = 0, TL3xx = 1, TK720 = 2, Series27 = 3, TK720Digest = 4 };

enum class ClearMode { None = 0, EntireFlash = 1, ParametersSection = 2 };

// What the command line asked for. The driver fills it in; the procedures
// read the file name, verify-only and (Nym only) the clear mode.
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

// The file name as messages show it: "(null)" when none was given.
const char* FileNameForDisplay(const RunOptions& options);

}  // namespace kelvane
