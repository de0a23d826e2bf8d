#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/file_messages.h"
#include "link/frame_exchange.h"

namespace kelvane {

// Where a run failed, as a journal names it.
enum class Stage { Write, Read, ChecksumSector, Digest, Link, Port, File, Identity };

// How a run ended for its drive. Verified and Mismatch are verdicts on the
// drive's flash; the others say why there is none. WrongDrive: the drive's
// identity is not one the run may touch (another model than /w names, or a
// drive of another family).
enum class Verdict {
  Verified,
  IdentityShown,  // /i: the drive answered and its identity was shown
  BackupSaved,    // the drive's firmware read whole and written to its file
  Mismatch,
  Failed,
  NoLink,
  PortFailed,
  FileRefused,
  Interrupted,
  WrongDrive
};

// A run's failure: what it was doing, on which block, how the exchange that
// failed ended (the loader's own outcome or the drive's status), and the
// line the console shows for it, line end included.
struct Failure {
  Failure() = default;
  Failure(Stage stage_, std::string line_, std::optional<int> block_ = std::nullopt,
          std::optional<LinkResult> link_ = std::nullopt, std::string detail_ = {})
      : stage(stage_),
        block(block_),
        link(link_),
        line(std::move(line_)),
        detail(std::move(detail_)) {}

  Stage stage = Stage::File;
  std::optional<int> block;
  std::optional<LinkResult> link;
  std::string line;
  // What the error stream adds (why a port did not open), line end included.
  std::string detail;
};

// A console line without the line ends around it, as a journal, a station's
// table and its summary quote it.
std::string_view WithoutLineEnds(std::string_view line);

// One line of the identity the drive sent: `key` names its field in lower-
// case words joined by "_" (empty for a line that shows no field), `value` is
// the field as shown, `line` the whole console line.
struct IdentityLine {
  std::string key;
  std::string value;
  std::string line;
};

struct DriveIdentity {
  std::vector<IdentityLine> lines;
  std::vector<std::uint8_t> raw;  // the identify reply's payload
  // The model code and hardware revision, three bytes each as the drive sent
  // them: what /w compares, and what tells a drive of another family.
  std::string modelCode;
  std::string hardwareRevision;
  // The layout's own line end, which every line ends with.
  std::string lineEnd = "\r\n";
  // The serial number as shown, empty when the layout has none.
  std::string SerialNumber() const;
};

// The passes of a procedure: blocks written, blocks read back and compared,
// the drive asked for the digest of what it holds, or blocks read out into
// a backup.
enum class Pass { Write, Verify, Digest, Read };

// The words a family's passes are told in.
struct PassWords {
  const char* unit = "sector";  // "sector" or "block"
  const char* unitTitle = "Sector";
};

// What happens in a run, told as it happens. The console text is one
// receiver of these events (ConsoleReport), a journal, a station's table and
// a drive's transcript are others; each takes what it needs, and every
// event it has no use for does nothing.
class RunReport {
 public:
  virtual ~RunReport() = default;

  // The port named `port` (what the option gave: "COM3", "/dev/ttyUSB0") is
  // open at `baud`.
  virtual void PortOpened(std::string_view /*port*/, int /*baud*/) {}
  // An identify request went unanswered; `remaining` counts down to 1.
  virtual void LinkAttemptFailed(int /*remaining*/) {}
  virtual void LinkEstablished(const DriveIdentity& /*identity*/) {}
  // What reading the firmware file said (its size, warnings, its refusal).
  virtual void FileMessage(const FileMessage& /*message*/) {}
  // Any other console line of the procedure that states no fact of its own
  // ("Setting flash to 0xFF", the checksum sector's lines, the drive's MD5).
  virtual void Note(std::string_view /*text*/) {}
  // The 27 series' checksum sector: the image's checksum and its length in
  // 16-bit words, as the run writes them or as a backup reads them.
  virtual void ChecksumSectorValues(std::uint32_t /*checksum*/, int /*words*/) {}
  // The checksum sector read back with `errors` bytes not as written.
  virtual void ChecksumSectorChecked(int /*errors*/) {}
  // The MD5 of the firmware a digest drive holds, as it reported it.
  virtual void DriveDigest(std::span<const std::uint8_t> /*md5*/) {}
  // Something that does not stop the run but makes the flash not match.
  virtual void Warning(std::string_view /*line*/) {}
  virtual void PassStarted(Pass /*pass*/, int /*total*/, const PassWords& /*words*/) {}
  // Block `block` (counted from 0) of `total` went out or read back the same.
  virtual void BlockDone(Pass /*pass*/, int /*block*/, int /*total*/, const PassWords& /*words*/) {}
  // Block `block` read back with `errors` differing bytes.
  virtual void BlockMismatch(int /*block*/, int /*errors*/, const PassWords& /*words*/) {}
  virtual void PassFinished(Pass /*pass*/) {}
  virtual void Failed(const Failure& /*failure*/) {}
  // After a failure: the device itself went away (unplugged, powered off);
  // `line` says so with the device, without a line end.
  virtual void DeviceLost(std::string_view /*line*/) {}
  // A backup's file `name` was written with `bytes`.
  virtual void FileSaved(std::string_view /*name*/, std::span<const std::uint8_t> /*bytes*/) {}
  // The verdict line: "successufully verifyed", or that `driveName`'s flash
  // does not match `fileName`. The digest family opens it with "\n" alone.
  virtual void VerdictReached(bool /*matched*/, const char* /*driveName*/, const char* /*fileName*/,
                              bool /*digest*/) {}
  // The run stopped at a user's request before block `block` of `pass`, or
  // (no pass) while waiting for the drive.
  virtual void Interrupted(std::optional<Pass> /*pass*/, int /*block*/,
                           const PassWords& /*words*/) {}
};

// Passes every event on to each of several reports, in order.
class ReportFanOut : public RunReport {
 public:
  explicit ReportFanOut(std::vector<RunReport*> reports) : reports_(std::move(reports)) {}
  void PortOpened(std::string_view port, int baud) override;
  void LinkAttemptFailed(int remaining) override;
  void LinkEstablished(const DriveIdentity& identity) override;
  void FileMessage(const kelvane::FileMessage& message) override;
  void Note(std::string_view text) override;
  void ChecksumSectorValues(std::uint32_t checksum, int words) override;
  void ChecksumSectorChecked(int errors) override;
  void DriveDigest(std::span<const std::uint8_t> md5) override;
  void Warning(std::string_view line) override;
  void PassStarted(Pass pass, int total, const PassWords& words) override;
  void BlockDone(Pass pass, int block, int total, const PassWords& words) override;
  void BlockMismatch(int block, int errors, const PassWords& words) override;
  void PassFinished(Pass pass) override;
  void Failed(const Failure& failure) override;
  void DeviceLost(std::string_view line) override;
  void FileSaved(std::string_view name, std::span<const std::uint8_t> bytes) override;
  void VerdictReached(bool matched, const char* driveName, const char* fileName,
                      bool digest) override;
  void Interrupted(std::optional<Pass> pass, int block, const PassWords& words) override;

 private:
  std::vector<RunReport*> reports_;
};

}  // namespace kelvane
