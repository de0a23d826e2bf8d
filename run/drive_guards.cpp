#include "run/drive_guards.h"

#include <cstdio>

namespace kelvane {

namespace {

constexpr std::size_t SHORTEST_PIN = 16;
constexpr std::size_t SHA256_DIGITS = 64;
constexpr std::size_t CODE_LENGTH = 3;

bool Printable(char c) {
  return c >= 0x20 && c <= 0x7E;
}

bool PrintableCode(std::string_view code) {
  if (code.size() != CODE_LENGTH) return false;
  for (const char c : code) {
    if (!Printable(c)) return false;
  }
  return true;
}

// A code as our own lines show it: a byte that is no printable character
// could move a terminal's cursor, so it shows as "?".
std::string Shown(std::string_view code) {
  std::string shown(code);
  for (char& c : shown) {
    if (!Printable(c)) c = '?';
  }
  return shown;
}

std::string HexOf(const std::array<std::uint8_t, 32>& digest) {
  std::string hex;
  char pair[3];
  for (const std::uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

bool Allows(const AllowedDrive& allowed, const DriveIdentity& identity) {
  return allowed.modelCode == identity.modelCode &&
         (!allowed.hardwareRevision || *allowed.hardwareRevision == identity.hardwareRevision);
}

}  // namespace

std::optional<std::string> ReadPinnedSha256(std::string_view text) {
  if (text.size() < SHORTEST_PIN || text.size() > SHA256_DIGITS) return std::nullopt;
  std::string digits;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
      digits += static_cast<char>(c | 0x20);
    } else {
      return std::nullopt;
    }
  }
  return digits;
}

std::optional<AllowedDrive> ReadAllowedDrive(std::string_view text) {
  AllowedDrive allowed;
  allowed.modelCode = std::string(text.substr(0, CODE_LENGTH));
  if (!PrintableCode(allowed.modelCode)) return std::nullopt;
  if (text.size() == CODE_LENGTH) return allowed;
  if (text[CODE_LENGTH] != ',' || !PrintableCode(text.substr(CODE_LENGTH + 1))) return std::nullopt;
  allowed.hardwareRevision = std::string(text.substr(CODE_LENGTH + 1));
  return allowed;
}

std::optional<std::string> PinRefusal(const RunOptions& options, const PreparedImage& image) {
  if (!options.pinnedSha256 || !image.fileSha256) return std::nullopt;
  const std::string file = HexOf(*image.fileSha256);
  if (file.starts_with(*options.pinnedSha256)) return std::nullopt;
  return "File " + image.fileName + " has SHA-256 " + file + ", not the " + *options.pinnedSha256 +
         " that /f asks for\r\n";
}

std::string PinNote(const RunOptions& options, const PreparedImage& image) {
  if (!options.pinnedSha256 || !image.fileSha256) return "";
  return " SHA-256:          " + HexOf(*image.fileSha256) + ", as /f asks\r\n";
}

bool AnswersLikeTheFamily(const DriveIdentity& identity) {
  return PrintableCode(identity.modelCode) && PrintableCode(identity.hardwareRevision);
}

std::optional<Failure> DriveRefusal(const RunOptions& options, const DriveFamily& family,
                                    const DriveIdentity& identity) {
  // A bare identify shows whatever answered; only a run that reads or
  // writes blocks in the family's places must not reach another family's
  // drive.
  if (!options.identifyOnly && !AnswersLikeTheFamily(identity)) {
    return Failure(Stage::Identity,
                   std::string("The drive does not answer like a ") + family.name +
                       " drive (no model code in its identity): it may need another "
                       "family option\r\n");
  }
  if (options.allowedDrives.empty()) return std::nullopt;
  std::string allowed;
  for (const AllowedDrive& drive : options.allowedDrives) {
    if (Allows(drive, identity)) return std::nullopt;
    if (!allowed.empty()) allowed += ", ";
    allowed += drive.modelCode;
    if (drive.hardwareRevision) allowed += " revision " + *drive.hardwareRevision;
  }
  return Failure(Stage::Identity, "The drive is model " + Shown(identity.modelCode) +
                                      ", hardware revision " + Shown(identity.hardwareRevision) +
                                      "; /w allows only " + allowed + "\r\n");
}

}  // namespace kelvane
