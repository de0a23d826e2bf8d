#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "flash/prepared_image.h"
#include "flash/run_options.h"
#include "flash/run_report.h"
#include "run/drive_families.h"

namespace kelvane {

// What /f and /w pin, read from the options' values, and the checks a run
// makes against them: the file's before any port is opened, the drive's
// once its identity is shown and before any block is read or written.

// /f's value: 16 to 64 hex digits of either case, kept in lower case; none
// when the text is anything else.
std::optional<std::string> ReadPinnedSha256(std::string_view text);

// /w's value: a model code, then optionally a comma and a hardware revision,
// each exactly three printable ASCII characters; none otherwise.
std::optional<AllowedDrive> ReadAllowedDrive(std::string_view text);

// A file's SHA-256 as /f gives it: 64 lower-case hex digits.
std::string Sha256Hex(const std::array<std::uint8_t, 32>& digest);

// The file's refusal when /f pins another SHA-256; none when it matches,
// when /f was not given, or when the file could not be read at all (that
// refusal comes where it always did).
std::optional<Failure> PinRefusal(const RunOptions& options, const PreparedImage& image);

// Whether the identity, read in the family's layout, holds a model code and
// a hardware revision of printable ASCII characters, as a drive of the
// family sends; another family's reply puts bytes of numbers there.
bool AnswersLikeTheFamily(const DriveIdentity& identity);

// Why the run must not touch the drive that sent `identity`: it does not
// answer like a drive of the chosen family (a run that reads or writes
// blocks only), or /w does not allow its model and revision. None when the
// run may go on.
std::optional<Failure> DriveRefusal(const RunOptions& options, const DriveFamily& family,
                                    const DriveIdentity& identity);

}  // namespace kelvane
