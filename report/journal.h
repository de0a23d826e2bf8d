#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "digest/sha256_digest.h"
#include "flash/run_report.h"

namespace kelvane {

// One run on one drive as a production line's journal keeps it: which
// firmware went into which drive, when, and with what result.
struct JournalEntry {
  std::chrono::system_clock::time_point start;
  double seconds = 0;
  const char* program = "kelvane";
  std::string host;
  std::string port;                   // as given: "COM3", "/dev/ttyUSB0"
  std::optional<std::string> device;  // what was opened
  int baud = 0;
  const char* family = "nym";
  const char* operation = "load";
  std::optional<std::string> file;
  std::optional<Sha256> fileSha256;
  std::optional<int> imageBytes;
  std::optional<int> blocks;
  std::optional<DriveIdentity> drive;
  // The MD5 a digest drive reported of the firmware it holds.
  std::optional<std::array<std::uint8_t, 16>> driveMd5;
  Verdict verdict = Verdict::Failed;
  std::optional<Failure> error;
  int status = 1;
  // /u: the run backs the drive up first, which its own line records.
  bool backsUp = false;
};

// The journal's words for the stage a run failed at (its verdict's are
// JournalVerdict's); the C library's results say the same.
const char* StageName(Stage stage);

// The entry as one line of JSON, keys in a fixed order, ended by "\n". Pure
// ASCII whatever the drive or the command line handed in: an identity byte
// that is no printable ASCII character is written as \u00XX (the raw reply
// in hex keeps it exactly), and a file name's UTF-8 characters as \uXXXX
// escapes, so no drive can break or forge a line.
std::string JournalLine(const JournalEntry& entry);

// Collects what a journal records of a run from its events: the identity,
// the failure (or where Ctrl-C stopped it).
class JournalRecorder : public RunReport {
 public:
  void LinkEstablished(const DriveIdentity& identity) override { drive = identity; }
  void PassStarted(Pass, int, const PassWords&) override { passBlocks = 0; }
  void BlockDone(Pass, int, int, const PassWords&) override { CountBlock(); }
  void BlockMismatch(int, int, const PassWords&) override { CountBlock(); }
  void Failed(const Failure& failure) override { error = failure; }
  void FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) override;
  void Interrupted(std::optional<Pass> pass, int block, const PassWords& words) override;
  void DriveDigest(std::span<const std::uint8_t> md5) override;

  std::optional<DriveIdentity> drive;
  std::optional<std::array<std::uint8_t, 16>> driveMd5;
  std::optional<Failure> error;
  // A backup's file, its SHA-256 and length as written.
  std::optional<std::string> savedFile;
  std::optional<Sha256> savedSha256;
  int savedBytes = 0;
  int savedBlocks = 0;  // the blocks read into it
  // The most blocks a pass of the run completed: written, read back or read
  // out; a run stopped at its third block completed 2.
  int blocksDone = 0;

 private:
  void CountBlock() { blocksDone = std::max(blocksDone, ++passBlocks); }
  int passBlocks = 0;
};

// The journal a run appends its line to, opened before any port is, so that
// a line that cannot record never flashes a drive. Each line goes out in one
// append, so runs sharing a journal never interleave; the station's threads
// also take the journal's lock for it, on every system (an append Wine
// passes on in pieces, or not at all, when eight threads write at once, is
// still one line). One platform file
// implements it (journal_file_posix.cpp or journal_file_win32.cpp).
class JournalFile {
 public:
  JournalFile() = default;
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Opens `path` for appending, creating it when missing. False with
  // `reason` saying why not.
  bool Open(const std::string& path, std::string& reason);
  // Appends `line` in one write under the lock; false when not all of it was
  // written.
  bool Append(std::string_view line);

 private:
  // One platform's write of the whole line at the end of the file.
  bool Write(std::string_view line);

  std::intptr_t handle_ = -1;
  std::mutex lock_;
};

// This machine's name, for the journal's host key; empty when unknown.
std::string HostName();
// `time` broken down as UTC, without the C library's shared buffer.
std::tm UtcCalendar(std::time_t time);

}  // namespace kelvane
