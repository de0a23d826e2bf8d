#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// Identify requests sent before a run gives up on the drive: about 200 s of
// silence.
inline constexpr int DEFAULT_LINK_ATTEMPTS = 1000;
inline constexpr int MIN_LINK_ATTEMPTS = 1;
inline constexpr int MAX_LINK_ATTEMPTS = 9999;

enum class DeviceFamily { Nym = 0, TL3xx = 1, TK720 = 2, Series27 = 3, TK720Digest = 4 };

enum class ClearMode { None = 0, EntireFlash = 1, ParametersSection = 2 };

// A drive that /w lets a run touch: its model code and, when given, its
// hardware revision, three characters each as the identity shows them.
struct AllowedDrive {
  std::string modelCode;
  std::optional<std::string> hardwareRevision;
};

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

  // Field tools beyond the classic run. /r: identify requests before giving
  // up; a script can learn quickly that no drive is there.
  int linkAttempts = DEFAULT_LINK_ATTEMPTS;
  // /t: every frame, silence and failed read told on the error stream.
  bool traceLink = false;
  // /e: a flash that does not match the file ends the run with status 2.
  bool strictStatus = false;
  // /n: the file prepared and summed up, nothing opened or sent.
  bool dryRun = false;
  // /l: the serial ports this machine has, nothing opened.
  bool listPorts = false;
  // /j<file>: a line of JSON appended to this journal for the run.
  std::optional<std::string> journalPath;
  // /u<file>: the firmware the drive holds saved into this file first, in
  // its family's file format; the load of `fileName`, if any, follows.
  std::optional<std::string> backupFileName;
  // /i: the link made and the drive's identity shown, nothing else.
  bool identifyOnly = false;
  // /f<sha256>: the firmware file's SHA-256 must begin with these hex digits
  // (16 to 64 of them, lower case), or nothing is sent.
  std::optional<std::string> pinnedSha256;
  // /w<model>[,<revision>], repeatable: the only drives the run may touch;
  // empty, any drive of the family.
  std::vector<AllowedDrive> allowedDrives;
};

// The file name as messages show it: "(null)" when none was given.
const char* FileNameForDisplay(const RunOptions& options);

}  // namespace kelvane
