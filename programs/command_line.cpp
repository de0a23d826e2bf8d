#include "programs/command_line.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "run/drive_guards.h"
#include "run/same_file.h"

namespace kelvane {

namespace {

// "/c" directly followed by a path separator names the serial device itself
// (/c/dev/ttyUSB0, /c\\.\COM12) rather than a COM port number.
bool IsDevicePathForm(const char* argument) {
  return (argument[1] == 'c' || argument[1] == 'C') && (argument[2] == '/' || argument[2] == '\\');
}

// /j<file> names the journal, whatever path follows the letter
// (/j/var/log/line.jsonl, /jlogs/line.jsonl); a firmware file in a top
// directory whose name starts with j is named //jobs/fw.s.
bool IsJournalPathForm(const char* argument) {
  return argument[1] == 'j' || argument[1] == 'J';
}

// A station's /o<folder> likewise.
bool IsTranscriptFolderForm(const char* argument, const StationOptions* station) {
  return station != nullptr && (argument[1] == 'o' || argument[1] == 'O');
}

// "/u" directly followed by a path separator: the backup file named by its
// absolute path (/u/home/user/old.s).
bool IsBackupPathForm(const char* argument) {
  return (argument[1] == 'u' || argument[1] == 'U') && (argument[2] == '/' || argument[2] == '\\');
}

// On POSIX an argument such as /home/user/fw.s is an absolute file path, not
// an option: a second "/" tells it apart from every option the loader knows.
bool IsPosixFilePath(const char* argument, const StationOptions* station) {
  return std::strchr(argument + 1, '/') != nullptr && !IsDevicePathForm(argument) &&
         !IsJournalPathForm(argument) && !IsTranscriptFolderForm(argument, station) &&
         !IsBackupPathForm(argument);
}

bool IsOption(const char* argument, PathRule rule, const StationOptions* station) {
  return argument[0] == '/' && !(rule == PathRule::Posix && IsPosixFilePath(argument, station));
}

// A backup reads the drive and a bare identify touches nothing, so neither
// goes with an option that asks for a verify only or an erase; /i does
// nothing a backup or a dry run would. Refused before any port is opened.
OptionsOutcome CheckCombinations(const RunOptions& options, std::FILE* out) {
  const char* with = options.identifyOnly ? "/i" : options.backupFileName ? "/u" : nullptr;
  const char* other = options.verifyOnly                                  ? "/v"
                      : options.clearMode == ClearMode::EntireFlash       ? "/d"
                      : options.clearMode == ClearMode::ParametersSection ? "/p"
                                                                          : nullptr;
  if (options.identifyOnly && options.backupFileName) other = "/u";
  if (options.identifyOnly && options.dryRun) other = "/n";
  if (with != nullptr && other != nullptr) {
    std::fprintf(out, "Option %s cannot be used with %s\r\n", with, other);
    return OptionsOutcome::Refused;
  }
  // /f pins the file a run loads: a run that loads none has nothing to pin.
  if (options.pinnedSha256) {
    const char* without =
        options.identifyOnly                          ? "/i: it loads no file"
        : options.backupFileName && !options.fileName ? "/u alone: a backup loads no file"
        : options.family == DeviceFamily::Nym && options.clearMode == ClearMode::EntireFlash
            ? "/d: a clear loads no file"
        : options.family == DeviceFamily::Nym && options.clearMode == ClearMode::ParametersSection
            ? "/p: a clear loads no file"
            : nullptr;
    if (without != nullptr) {
      std::fprintf(out, "Option /f cannot be used with %s\r\n", without);
      return OptionsOutcome::Refused;
    }
  }
  // The backup is written after the drive is read, so over a firmware file
  // of the same name it would replace the very file being loaded.
  if (options.backupFileName && options.fileName &&
      SameFile(*options.backupFileName, *options.fileName)) {
    std::fprintf(out,
                 "Option /u would overwrite the firmware file %s: back up into another file\r\n",
                 options.fileName->c_str());
    return OptionsOutcome::Refused;
  }
  if (options.backupFileName && options.family == DeviceFamily::TK720Digest) {
    std::fputs("Option /u cannot be used with /s: a TK720 digest drive reads no blocks back\r\n",
               out);
    return OptionsOutcome::Refused;
  }
  return OptionsOutcome::Run;
}

// The decimal value at the start of `text`, as the C library reads it, kept
// inside int so that an absurd rate cannot overflow; the port refuses it later.
// Scripts rely on that lenient reading (/B115200xyz), but /b115k would open
// at 115 baud and wait for a drive that answers at 115200, so a value with
// more than its digits is said back on `err` as read.
int ReadBaudRate(const char* argument, std::FILE* err) {
  const char* text = argument + 2;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  if (err != nullptr && (end == text || *end != '\0')) {
    std::fprintf(err, "Option %s is read as %ld baud%s\n", argument, value,
                 end == text ? ": it holds no digits" : ", what follows the digits left out");
  }
  return static_cast<int>(value);
}

// /r<N>: only digits, 1 to 9999. A script that asks for a bounded wait must
// not get the 200 s default because of a typing slip, so anything else is
// refused rather than read the way /b reads its number.
bool ReadLinkAttempts(const char* text, int& attempts) {
  int value = 0;
  std::size_t digits = 0;
  for (; text[digits] != '\0'; ++digits) {
    if (text[digits] < '0' || text[digits] > '9' || value > MAX_LINK_ATTEMPTS) return false;
    value = value * 10 + (text[digits] - '0');
  }
  if (digits == 0 || value < MIN_LINK_ATTEMPTS || value > MAX_LINK_ATTEMPTS) return false;
  attempts = value;
  return true;
}

// Applies one option.
// The options that only set what they name, a letter in either case.
struct FlagOption {
  char letter;
  void (*set)(RunOptions& options);
};
constexpr FlagOption FLAG_OPTIONS[] = {
    {'v', [](RunOptions& o) { o.verifyOnly = true; }},
    {'a', [](RunOptions& o) { o.family = DeviceFamily::TL3xx; }},
    {'9', [](RunOptions& o) { o.family = DeviceFamily::Series27; }},
    {'m', [](RunOptions& o) { o.family = DeviceFamily::TK720; }},
    {'s', [](RunOptions& o) { o.family = DeviceFamily::TK720Digest; }},
    {'d', [](RunOptions& o) { o.clearMode = ClearMode::EntireFlash; }},
    {'p', [](RunOptions& o) { o.clearMode = ClearMode::ParametersSection; }},
    {'t', [](RunOptions& o) { o.traceLink = true; }},
    {'e', [](RunOptions& o) { o.strictStatus = true; }},
    {'n', [](RunOptions& o) { o.dryRun = true; }},
    {'l', [](RunOptions& o) { o.listPorts = true; }},
    {'i', [](RunOptions& o) { o.identifyOnly = true; }},
};

OptionsOutcome ApplyOption(const char* argument, RunOptions& options, std::FILE* out,
                           StationOptions* station, std::FILE* err) {
  const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(argument[1])));
  for (const FlagOption& flag : FLAG_OPTIONS) {
    if (flag.letter != letter) continue;
    flag.set(options);
    return OptionsOutcome::Run;
  }
  switch (letter) {
    case 'c':
      if (IsDevicePathForm(argument)) {
        options.devicePath = std::string(argument + 2);
      } else {
        // Only the third character counts, taken as a signed 8-bit code, so a
        // bare /c gives 0 - '0' = -48 and /c12 gives 1.
        options.portNumber = static_cast<signed char>(argument[2]) - '0';
        options.devicePath.reset();
        if (err != nullptr && (argument[2] < '0' || argument[2] > '9')) {
          std::fprintf(err, "Option %s is read as COM%d: the port is the one digit after /c\n",
                       argument, options.portNumber);
        }
      }
      if (station != nullptr) station->ports.push_back({options.portNumber, options.devicePath});
      break;
    case 'b':
      options.baudRate = ReadBaudRate(argument, err);
      break;
    case 'r':
      if (!ReadLinkAttempts(argument + 2, options.linkAttempts)) {
        std::fprintf(out, "Option /r takes a number of link attempts from %d to %d: %s\r\n",
                     MIN_LINK_ATTEMPTS, MAX_LINK_ATTEMPTS, argument);
        return OptionsOutcome::Refused;
      }
      break;
    case 'j':
      if (argument[2] == '\0') {
        std::fprintf(out, "Option /j takes the journal's file name: /jline.jsonl\r\n");
        return OptionsOutcome::Refused;
      }
      options.journalPath = std::string(argument + 2);
      break;
    case 'o':
      if (station == nullptr) {
        std::fprintf(out, "Unknown option: %s\r\n", argument);
      } else if (argument[2] == '\0') {
        std::fputs("Option /o takes the folder for the drives' transcripts: /otranscripts\r\n",
                   out);
        return OptionsOutcome::Refused;
      } else {
        station->transcriptFolder = std::string(argument + 2);
      }
      break;
    case 'f':
      options.pinnedSha256 = ReadPinnedSha256(argument + 2);
      if (!options.pinnedSha256) {
        std::fprintf(out,
                     "Option /f takes the firmware file's SHA-256, its 64 hex digits or at least "
                     "the first 16: %s\r\n",
                     argument);
        return OptionsOutcome::Refused;
      }
      break;
    case 'w':
      if (const auto allowed = ReadAllowedDrive(argument + 2)) {
        options.allowedDrives.push_back(*allowed);
      } else {
        std::fprintf(out,
                     "Option /w takes a model code and, after a comma, a hardware revision, "
                     "three printable characters each (/w770, /w770,C03): %s\r\n",
                     argument);
        return OptionsOutcome::Refused;
      }
      break;
    case 'h':
    case '?':
      if (station != nullptr) return OptionsOutcome::HelpShown;
      PrintUsage(out);
      return OptionsOutcome::HelpShown;
    default:
      std::fprintf(out, "Unknown option: %s\r\n", argument);
      break;
  }
  return OptionsOutcome::Run;
}

// What a help or version word given in place of the file asks for, when no
// file has that name (a file may: it is then loaded, as any file name is).
OptionsOutcome ReadHelpWord(const std::string& word) {
  const bool help = word == "-h" || word == "--help" || word == "-?";
  if (!help && word != "--version") return OptionsOutcome::Run;
  std::error_code error;
  if (std::filesystem::exists(word, error)) return OptionsOutcome::Run;
  return help ? OptionsOutcome::HelpShown : OptionsOutcome::VersionShown;
}

}  // namespace

OptionsOutcome ReadOptions(std::span<const char* const> arguments, PathRule rule,
                           RunOptions& options, std::FILE* out, StationOptions* station,
                           std::FILE* err) {
  int fileNames = 0;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const char* argument = arguments[i];
    if (argument == nullptr) continue;
    if (!IsOption(argument, rule, station)) {
      options.fileName = std::string(argument);
      ++fileNames;
      continue;
    }
    // /u<file>, or /u with the file as the next argument.
    if (argument[1] == 'u' || argument[1] == 'U') {
      if (station != nullptr) {
        // One backup file for many drives has no good name yet.
        std::fprintf(out, "Option /u backs up one drive and is not for a station: %s\r\n",
                     argument);
        return OptionsOutcome::Refused;
      }
      const char* name = argument + 2;
      if (*name == '\0' && i + 1 < arguments.size() && arguments[i + 1] != nullptr &&
          !IsOption(arguments[i + 1], rule, station))
        name = arguments[++i];
      if (*name == '\0') {
        std::fputs("Option /u takes the name of the file to back up into\r\n", out);
        return OptionsOutcome::Refused;
      }
      options.backupFileName = std::string(name);
      continue;
    }
    const OptionsOutcome outcome = ApplyOption(argument, options, out, station, err);
    if (outcome != OptionsOutcome::Run) return outcome;
  }
  const OptionsOutcome asked =
      fileNames == 1 ? ReadHelpWord(*options.fileName) : OptionsOutcome::Run;
  if (asked == OptionsOutcome::HelpShown && station == nullptr) PrintUsage(out);
  if (asked != OptionsOutcome::Run) return asked;
  return CheckCombinations(options, out);
}

void PrintBanner(std::FILE* out) {
  std::fputs("\r\n", out);
  std::fputs(" Ostrel firmware loader\r\n", out);
  std::fputs("                                            Version 2.03\r\n\r\n", out);
}

void PrintNoFirmwareFile(std::FILE* out, const char* lineEnd) {
  std::fputs("S-record file with firmware is not specified", out);
  std::fputs(lineEnd, out);
}

void PrintUsage(std::FILE* out) {
  std::fputs(" Use: Kelvane [options] filename\r\n", out);
  std::fputs("\r\n", out);
  std::fputs("    /cX     - COM port number               (default 1)\r\n", out);
  std::fputs("    /bXXXXX - Baud rate                     (default 38400)\r\n", out);
  std::fputs("    /v      - Only verify firmware          (default load and verify)\r\n", out);
  std::fputs("    /a      - TL3xx family firmware         (defaults to Nym family)\r\n", out);
  std::fputs("    /9      - 27 series family firmware     (defaults to Nym family)\r\n", out);
  std::fputs("    /m      - TK720 family firmware *       (defaults to Nym family)\r\n", out);
  std::fputs("    /s      - new TK720 firmware with md5 * (defaults to Nym family)\r\n", out);
  std::fputs("    /d      - clear entire flash\r\n", out);
  std::fputs("    /p      - clear parameters section only\r\n", out);
  std::fputs("    /h/?    - This help screen\r\n", out);
  std::fputs("\r\n", out);
  std::fputs("    * requires binary image file. Not S-record !\r\n", out);
}

}  // namespace kelvane
