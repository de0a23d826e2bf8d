#include "report/console_report.h"

#include <cctype>

#include "flash/checksum_sector.h"
#include "report/failure_text.h"

// Every line here is printed as the drive tools always printed it, their
// misspellings included ("successufully", "verifyed", "errorneous", "does
// not much"): production scripts match these lines byte for byte, so they
// stay as they are.

namespace kelvane {

void ConsoleReport::Put(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
}

void ConsoleReport::PortOpened(std::string_view port, int baud) {
  std::fprintf(out_, "%.*s open at %d baud\r\n", static_cast<int>(port.size()), port.data(), baud);
  Flush();
}

void ConsoleReport::LinkAttemptFailed(int remaining) {
  std::fprintf(out_, "Trying to establish link with device %4d\r", remaining);
  Flush();
}

namespace {

// C0 controls, DEL and the C1 controls, which some terminals take as the
// start of a sequence too.
bool ControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0);
}

// The line with every control byte before its layout's own line end shown
// as "?".
std::string ForTerminal(const std::string& line, const std::string& lineEnd) {
  const std::size_t body = line.ends_with(lineEnd) ? line.size() - lineEnd.size() : line.size();
  std::string shown = line;
  for (std::size_t i = 0; i < body; ++i) {
    if (ControlByte(shown[i])) shown[i] = '?';
  }
  return shown;
}

}  // namespace

void ConsoleReport::LinkEstablished(const DriveIdentity& identity) {
  Put("Connection with device established.\r\n\r\n");
  Put("Device details:\r\n");
  for (const IdentityLine& line : identity.lines)
    Put(terminal_ ? ForTerminal(line.line, identity.lineEnd) : line.line);
  Put("\r\n");
  Flush();
}

void ConsoleReport::FileMessage(const kelvane::FileMessage& message) {
  if (message.kind != FileMessageKind::Notice) {
    Put(message.text);
    return;
  }
  // A notice about the file goes to the error stream, so the console keeps
  // the drive tools' lines.
  Notice(message.text);
}

void ConsoleReport::Notice(std::string_view line) {
  // A station's transcripts leave it to the station, which says it once for
  // all its drives.
  if (!fileNotices_) return;
  Flush();
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

void ConsoleReport::FlashCleared() {
  Put("Setting flash to 0xFF\r\n");
}

void ConsoleReport::ChecksumSectorValues(std::uint32_t checksum, int words) {
  char line[64];
  std::snprintf(line, sizeof line, "Firmware checksum is %08x, size in WORDs %d\r\n",
                static_cast<unsigned>(checksum), words);
  Put(line);
}

void ConsoleReport::ChecksumSectorWriting() {
  Put("Writing firmware checksum ...\r\n");
}

void ConsoleReport::ChecksumSectorChecked(int errors) {
  if (errors == 0) {
    Put("Firmware checksum sector is verified\r\n");
    return;
  }
  char line[96];
  std::snprintf(line, sizeof line, "Firmware checksum sector %d has %d errorneous location(s)\r\n",
                CHECKSUM_SECTOR_NUMBER, errors);
  Warn(line);
}

void ConsoleReport::DriveDigest(std::span<const std::uint8_t> md5) {
  std::string line = "Unit MD5 : ";
  for (std::uint8_t byte : md5) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(byte));
    line += hex;
  }
  Put(line + "\n");
}

void ConsoleReport::NoValidFirmware() {
  // The digest drive's tool ended its lines with LF alone.
  Warn("Unit doesn't have any valid firmware\n");
}

void ConsoleReport::Warn(std::string_view line) {
  Put(line);
  Flush();
}

void ConsoleReport::PassStarted(Pass pass, int /*total*/, const PassWords& /*words*/) {
  Put(pass == Pass::Write  ? "Updating firmware:\r\n"
      : pass == Pass::Read ? "Reading firmware:\r\n"
                           : "Verifying firmware:\r\n");
}

void ConsoleReport::BlockDone(Pass pass, int block, int total, const PassWords& words) {
  std::fprintf(out_, "%4d of %4d %ss %s\r", block + 1, total, words.unit,
               pass == Pass::Write  ? "updated"
               : pass == Pass::Read ? "read"
                                    : "verifyed");
  if (live_) Flush();
}

void ConsoleReport::BlockMismatch(int block, int errors, const PassWords& words) {
  // The unit capitalised: " Sector    2 has ...".
  std::fprintf(out_, " %c%s %4d has %4d errorneous location(s)\r\n",
               std::toupper(static_cast<unsigned char>(words.unit[0])), words.unit + 1, block + 1,
               errors);
  Flush();
}

void ConsoleReport::PassFinished(Pass pass) {
  if (pass == Pass::Write) Put("\r\nFirmware was successufully updated\r\n");
  // The read pass's count gets a line of its own.
  if (pass == Pass::Read) Put("\r\n");
}

void ConsoleReport::Failed(const Failure& failure) {
  Put(FailureLine(failure));
  Flush();
  // The file reader's explanation keeps its own line ends.
  if (failure.reason == FailureReason::FileRefused && !failure.explanation.empty()) {
    std::fputs(failure.explanation.c_str(), err_);
    std::fflush(err_);
  } else if (failure.reason == FailureReason::PortNotOpened) {
    std::fprintf(err_, "%s\n", FailureDetailText(failure).c_str());
    std::fflush(err_);
  }
}

void ConsoleReport::DeviceLost(std::string_view device) {
  Flush();
  std::fprintf(err_, "%.*s: the device went away (unplugged or powered off)\n",
               static_cast<int>(device.size()), device.data());
  std::fflush(err_);
}

void ConsoleReport::ChecksummedImageFound(int bytes) {
  std::fprintf(out_, "The drive holds a valid TK720 image of %d bytes\r\n", bytes);
}

void ConsoleReport::RecordChecksumWrong(int record, std::uint8_t given, std::uint8_t computed) {
  char line[200];
  // The backup's first line is its S0 header.
  std::snprintf(line, sizeof line,
                "Warning: the drive's record %d (line %d of the backup) has the checksum %02X "
                "where its bytes give %02X: saved as the drive holds it, a load of the backup "
                "refuses that line\n",
                record, record + 1, unsigned{given}, unsigned{computed});
  Notice(line);
}

void ConsoleReport::FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) {
  std::fprintf(out_, "Firmware saved into %.*s (%d bytes)\r\n", static_cast<int>(name.size()),
               name.data(), static_cast<int>(bytes.size()));
  Flush();
}

void ConsoleReport::VerdictReached(bool matched, const char* driveName, const char* fileName,
                                   Pass checkedBy) {
  // The digest family's monitor tool ended its last line with LF alone.
  Put(checkedBy == Pass::Digest ? "\n" : "\r\n");
  if (matched) {
    Put("Firmware was successufully verifyed\r\n");
  } else {
    std::fprintf(out_, "Firmware in the %s drive does not much the file %s\r\n", driveName,
                 fileName);
  }
  Flush();
}

void ConsoleReport::Interrupted(std::optional<Pass> pass, int block, const PassWords& words) {
  Put(FailureLine(InterruptionOf(pass, block, words)));
  Flush();
}

}  // namespace kelvane
