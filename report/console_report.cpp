#include "report/console_report.h"

#include "flash/checksum_sector.h"

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
  // the drive tools' lines; a station's transcripts leave it to the station,
  // which says it once for all its drives.
  if (fileNotices_) {
    Flush();
    std::fwrite(message.text.data(), 1, message.text.size(), err_);
    std::fflush(err_);
  }
}

void ConsoleReport::Note(std::string_view text) {
  Put(text);
}

void ConsoleReport::ChecksumSectorValues(std::uint32_t checksum, int words) {
  char line[64];
  std::snprintf(line, sizeof line, "Firmware checksum is %08x, size in WORDs %d\r\n",
                static_cast<unsigned>(checksum), words);
  Put(line);
}

void ConsoleReport::ChecksumSectorChecked(int errors) {
  if (errors == 0) {
    Put("Firmware checksum sector is verified\r\n");
    return;
  }
  // "errorneous" as the loader has always printed it: scripts match the line.
  char line[96];
  std::snprintf(line, sizeof line, "Firmware checksum sector %d has %d errorneous location(s)\r\n",
                CHECKSUM_SECTOR_NUMBER, errors);
  Warning(line);
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

void ConsoleReport::Warning(std::string_view line) {
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
  std::fprintf(out_, " %s %4d has %4d errorneous location(s)\r\n", words.unitTitle, block + 1,
               errors);
  Flush();
}

void ConsoleReport::PassFinished(Pass pass) {
  if (pass == Pass::Write) Put("\r\nFirmware was successufully updated\r\n");
  // The read pass's count gets a line of its own.
  if (pass == Pass::Read) Put("\r\n");
}

void ConsoleReport::Failed(const Failure& failure) {
  Put(failure.line);
  Flush();
  if (!failure.detail.empty()) {
    std::fwrite(failure.detail.data(), 1, failure.detail.size(), err_);
    std::fflush(err_);
  }
}

void ConsoleReport::DeviceLost(std::string_view line) {
  Flush();
  std::fprintf(err_, "%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(err_);
}

void ConsoleReport::FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) {
  std::fprintf(out_, "Firmware saved into %.*s (%d bytes)\r\n", static_cast<int>(name.size()),
               name.data(), static_cast<int>(bytes.size()));
  Flush();
}

void ConsoleReport::VerdictReached(bool matched, const char* driveName, const char* fileName,
                                   bool digest) {
  // The digest family's monitor tool ended its last line with LF alone.
  Put(digest ? "\n" : "\r\n");
  if (matched) {
    Put("Firmware was successufully verifyed\r\n");
  } else {
    std::fprintf(out_, "Firmware in the %s drive does not much the file %s\r\n", driveName,
                 fileName);
  }
  Flush();
}

void ConsoleReport::Interrupted(std::optional<Pass> pass, int block, const PassWords& words) {
  Put(InterruptedLine(pass, block, words));
  Flush();
}

std::string InterruptedLine(std::optional<Pass> pass, int block, const PassWords& words) {
  char line[128];
  if (!pass) {
    std::snprintf(line, sizeof line, "\r\nInterrupted while waiting for the drive to answer\r\n");
  } else if (*pass == Pass::Digest) {
    std::snprintf(line, sizeof line,
                  "\r\nInterrupted before the drive was asked for its firmware digest\r\n");
  } else {
    std::snprintf(line, sizeof line, "\r\nInterrupted before %s %d was %s\r\n", words.unit, block,
                  *pass == Pass::Write  ? "written"
                  : *pass == Pass::Read ? "read"
                                        : "verified");
  }
  return line;
}

}  // namespace kelvane
