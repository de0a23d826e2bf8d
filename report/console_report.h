#pragma once

#include <cstdio>

#include "flash/run_report.h"

namespace kelvane {

// The run told as the loader has always printed it: every line on `out` as
// the drive's documentation words it, and on `err` the one extra line that
// says why a port did not open or a record line was refused. kelvane's
// standard output, and a station's transcript of one drive, are this.
class ConsoleReport : public RunReport {
 public:
  // `live`: each progress line pushed out at once, for someone watching it
  // or a link trace going between the lines; otherwise (into a file or a
  // pipe) the lines leave in blocks, a system call saved per block, and the
  // run's other messages flush them, before its end and before `err`.
  // `terminal`: `out` is a terminal, where the drive's identity must not
  // reach it with control bytes (an escape sequence could rewrite the
  // screen); each shows as "?". Into a file or a pipe every byte goes as
  // the drive sent it.
  // `fileNotices`: the file's notices (warnings for the error stream) are
  // told on `err`.
  ConsoleReport(std::FILE* out, std::FILE* err, bool live = true, bool terminal = false,
                bool fileNotices = true)
      : out_(out), err_(err), live_(live), terminal_(terminal), fileNotices_(fileNotices) {}

  void PortOpened(std::string_view port, int baud) override;
  void LinkAttemptFailed(int remaining) override;
  void LinkEstablished(const DriveIdentity& identity) override;
  void FileMessage(const kelvane::FileMessage& message) override;
  void FlashCleared() override;
  void ChecksumSectorValues(std::uint32_t checksum, int words) override;
  void ChecksumSectorWriting() override;
  void ChecksumSectorChecked(int errors) override;
  void DriveDigest(std::span<const std::uint8_t> md5) override;
  void NoValidFirmware() override;
  void PassStarted(Pass pass, int total, const PassWords& words) override;
  void BlockDone(Pass pass, int block, int total, const PassWords& words) override;
  void BlockMismatch(int block, int errors, const PassWords& words) override;
  void PassFinished(Pass pass) override;
  void Failed(const Failure& failure) override;
  void DeviceLost(std::string_view device) override;
  void ChecksummedImageFound(int bytes) override;
  void RecordChecksumWrong(int record, std::uint8_t given, std::uint8_t computed) override;
  void FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) override;
  void VerdictReached(bool matched, const char* driveName, const char* fileName,
                      Pass checkedBy) override;
  void Interrupted(std::optional<Pass> pass, int block, const PassWords& words) override;

 private:
  void Put(std::string_view text);
  // Lines that end in a bare CR, and the ends of what one step says, go out
  // at once, so that the count moves and the error stream's line follows its
  // own failure.
  void Flush() { std::fflush(out_); }
  // A line that makes the flash not match, out at once.
  void Warn(std::string_view line);
  // A notice on the error stream, unless a station says it for all drives.
  void Notice(std::string_view line);

  std::FILE* out_;
  std::FILE* err_;
  bool live_;
  bool terminal_;
  bool fileNotices_;
};

}  // namespace kelvane
