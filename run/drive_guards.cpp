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

bool Allows(const AllowedDrive& allowed, const DriveIdentity& identity) {
  return allowed.modelCode == identity.modelCode &&
         (!allowed.hardwareRevision || *allowed.hardwareRevision == identity.hardwareRevision);
}

}  // namespace

std::string Sha256Hex(const std::array<std::uint8_t, 32>& digest) {
  std::string hex;
  char pair[3];
  for (const std::uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

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

std::optional<Failure> PinRefusal(const RunOptions& options, const PreparedImage& image) {
  if (!options.pinnedSha256 || !image.fileSha256) return std::nullopt;
  const std::string file = Sha256Hex(*image.fileSha256);
  if (file.starts_with(*options.pinnedSha256)) return std::nullopt;
  Failure refusal(Stage::File, FailureReason::FilePinned);
  refusal.name = image.fileName;
  refusal.detail = file;
  refusal.explanation = *options.pinnedSha256;
  return refusal;
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
    Failure refusal(Stage::Identity, FailureReason::NotTheFamily);
    refusal.name = family.name;
    return refusal;
  }
  if (options.allowedDrives.empty()) return std::nullopt;
  for (const AllowedDrive& drive : options.allowedDrives) {
    if (Allows(drive, identity)) return std::nullopt;
  }
  Failure refusal(Stage::Identity, FailureReason::WrongModel);
  refusal.name = identity.modelCode;
  refusal.detail = identity.hardwareRevision;
  refusal.allowed = options.allowedDrives;
  return refusal;
}

}  // namespace kelvane
