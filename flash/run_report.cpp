#include "flash/run_report.h"

namespace kelvane {

Failure InterruptionOf(std::optional<Pass> pass, int block, const PassWords& words) {
  Failure failure(Stage::Link, FailureReason::Interrupted);
  failure.pass = pass;
  failure.words = words;
  failure.count = block;
  if (!pass) return failure;
  failure.stage = *pass == Pass::Write    ? Stage::Write
                  : *pass == Pass::Digest ? Stage::Digest
                                          : Stage::Read;
  // The digest is asked for once, of no block.
  if (*pass != Pass::Digest) failure.block = block;
  return failure;
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
void ReportFanOut::FlashCleared() {
  KELVANE_FAN_OUT(FlashCleared());
}
void ReportFanOut::ChecksumSectorValues(std::uint32_t checksum, int words) {
  KELVANE_FAN_OUT(ChecksumSectorValues(checksum, words));
}
void ReportFanOut::ChecksumSectorWriting() {
  KELVANE_FAN_OUT(ChecksumSectorWriting());
}
void ReportFanOut::ChecksumSectorChecked(int errors) {
  KELVANE_FAN_OUT(ChecksumSectorChecked(errors));
}
void ReportFanOut::DriveDigest(std::span<const std::uint8_t> md5) {
  KELVANE_FAN_OUT(DriveDigest(md5));
}
void ReportFanOut::NoValidFirmware() {
  KELVANE_FAN_OUT(NoValidFirmware());
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
void ReportFanOut::DeviceLost(std::string_view device) {
  KELVANE_FAN_OUT(DeviceLost(device));
}
void ReportFanOut::ChecksummedImageFound(int bytes) {
  KELVANE_FAN_OUT(ChecksummedImageFound(bytes));
}
void ReportFanOut::RecordChecksumWrong(int record, std::uint8_t given, std::uint8_t computed) {
  KELVANE_FAN_OUT(RecordChecksumWrong(record, given, computed));
}
void ReportFanOut::FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) {
  KELVANE_FAN_OUT(FileSaved(name, bytes));
}
void ReportFanOut::VerdictReached(bool matched, const char* driveName, const char* fileName,
                                  Pass checkedBy) {
  KELVANE_FAN_OUT(VerdictReached(matched, driveName, fileName, checkedBy));
}
void ReportFanOut::Interrupted(std::optional<Pass> pass, int block, const PassWords& words) {
  KELVANE_FAN_OUT(Interrupted(pass, block, words));
}

#undef KELVANE_FAN_OUT

}  // namespace kelvane
