#include "flash/run_report.h"

namespace kelvane {

std::string_view WithoutLineEnds(std::string_view line) {
  while (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

std::string DriveIdentity::SerialNumber() const {
  for (const IdentityLine& line : lines)
    if (line.key == "serial_number") return line.value;
  return {};
}

#define KELVANE_FAN_OUT(call) \
  for (RunReport * report : reports_) report->call

void ReportFanOut::PortOpened(std::string_view port, int baud) {
  KELVANE_FAN_OUT(PortOpened(port, baud));
}
void ReportFanOut::LinkAttemptFailed(int remaining) {
  KELVANE_FAN_OUT(LinkAttemptFailed(remaining));
}
void ReportFanOut::LinkEstablished(const DriveIdentity& identity) {
  KELVANE_FAN_OUT(LinkEstablished(identity));
}
void ReportFanOut::FileMessage(const kelvane::FileMessage& message) {
  KELVANE_FAN_OUT(FileMessage(message));
}
void ReportFanOut::Note(std::string_view text) {
  KELVANE_FAN_OUT(Note(text));
}
void ReportFanOut::ChecksumSectorValues(std::uint32_t checksum, int words) {
  KELVANE_FAN_OUT(ChecksumSectorValues(checksum, words));
}
void ReportFanOut::ChecksumSectorChecked(int errors) {
  KELVANE_FAN_OUT(ChecksumSectorChecked(errors));
}
void ReportFanOut::DriveDigest(std::span<const std::uint8_t> md5) {
  KELVANE_FAN_OUT(DriveDigest(md5));
}
void ReportFanOut::Warning(std::string_view line) {
  KELVANE_FAN_OUT(Warning(line));
}
void ReportFanOut::PassStarted(Pass pass, int total, const PassWords& words) {
  KELVANE_FAN_OUT(PassStarted(pass, total, words));
}
void ReportFanOut::BlockDone(Pass pass, int block, int total, const PassWords& words) {
  KELVANE_FAN_OUT(BlockDone(pass, block, total, words));
}
void ReportFanOut::BlockMismatch(int block, int errors, const PassWords& words) {
  KELVANE_FAN_OUT(BlockMismatch(block, errors, words));
}
void ReportFanOut::PassFinished(Pass pass) {
  KELVANE_FAN_OUT(PassFinished(pass));
}
void ReportFanOut::Failed(const Failure& failure) {
  KELVANE_FAN_OUT(Failed(failure));
}
void ReportFanOut::DeviceLost(std::string_view line) {
  KELVANE_FAN_OUT(DeviceLost(line));
}
void ReportFanOut::FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) {
  KELVANE_FAN_OUT(FileSaved(name, bytes));
}
void ReportFanOut::VerdictReached(bool matched, const char* driveName, const char* fileName,
                                  bool digest) {
  KELVANE_FAN_OUT(VerdictReached(matched, driveName, fileName, digest));
}
void ReportFanOut::Interrupted(std::optional<Pass> pass, int block, const PassWords& words) {
  KELVANE_FAN_OUT(Interrupted(pass, block, words));
}

#undef KELVANE_FAN_OUT

}  // namespace kelvane
