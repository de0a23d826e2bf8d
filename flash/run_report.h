#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "flash/run_options.h"
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

// The passes of a procedure: blocks written, blocks read back and compared,
// the drive asked for the digest of what it holds, or blocks read out into
// a backup.
enum class Pass { Write, Verify, Digest, Read };

// What a family calls its blocks, in the drive's terms.
struct PassWords {
  const char* unit = "sector";  // "sector" or "block"
  // The Nym monitor's write failures are told with the drive's code.
  bool writeFailureShowsCode = false;
};

// What failed.
enum class FailureReason {
  PortNotOpened,   // `name`: the port; `detail`: what the system said of it
  LinkGaveUp,      // the drive never answered the identify request
  FileRefused,     // `detail`: the file reader's refusal; `explanation`: why
  FilePinned,      // `name`: the file; `detail`: its SHA-256; `explanation`: /f's digits
  FileNotCreated,  // `name`: the backup's file, which its folder does not take
  FileNotWritten,  // `name`: the backup's file, which could not be written whole
  NotTheFamily,    // `name`: the family the drive does not answer like
  WrongModel,      // `name`: the drive's model code; `detail`: its hardware revision
  BlockWriteFailed,
  BlockVerifyFailed,  // a block read back to be compared
  BlockReadFailed,    // a block read out into a backup
  BlockReadShort,     // `count` of the block's `size` bytes came
  ChecksumSectorWriteFailed,
  ChecksumSectorReadFailed,
  DigestFailed,  // the drive asked for its firmware's digest
  NoImage,       // the backup found no image: `image`, `why`, `count`
  Interrupted,   // a Ctrl-C before block `count` of `pass`, or while waiting for the drive
};

// The images a backup reads out of a drive.
enum class ImageKind { RecordStream, WordImage, TK720Image };

// Why the flash a backup read holds no image of the family.
enum class NoImageWhy {
  Erased,          // all of it 0xFF
  BreaksOff,       // the record stream breaks off at byte `count`
  NoEndMarker,     // the record stream never ends
  NoDataRecords,   // the record stream holds end records alone
  NoMarker,        // the checksum sector holds no marker
  SectorTooLong,   // the checksum sector gives more words than the flash holds
  SectorMismatch,  // the image does not match its checksum sector
  NoChecksumEnd,   // no word image ends in its checksum
  NoData,          // the word image is its checksum alone
  NoHeader,        // no TK720 header with the magic and a word count
  HeaderTooLong,   // the header gives more words than the flash holds
  SumNotZero,      // the TK720 image's words do not sum to zero
};

// A run's failure, as facts: what it was doing, on which block (counted from
// 0), how the exchange that failed ended (the loader's own outcome or the
// drive's status), and what failed with what it names. The receivers word
// it: the console as the drive's tools always did, a journal as one text.
struct Failure {
  Failure() = default;
  Failure(Stage stage_, FailureReason reason_, std::optional<int> block_ = std::nullopt,
          std::optional<LinkResult> link_ = std::nullopt)
      : stage(stage_), reason(reason_), block(block_), link(link_) {}

  Stage stage = Stage::File;
  FailureReason reason = FailureReason::FileRefused;
  std::optional<int> block;
  std::optional<LinkResult> link;
  // A block's failure and an interruption: the family's unit.
  PassWords words;
  // Interrupted: the pass it came before; none while waiting for the drive.
  std::optional<Pass> pass;
  // What the reason names, as FailureReason says for each.
  std::string name;
  std::string detail;
  std::string explanation;
  // WrongModel: the drives /w allows.
  std::vector<AllowedDrive> allowed;
  ImageKind image = ImageKind::RecordStream;
  NoImageWhy why = NoImageWhy::Erased;
  int count = 0;
  int size = 0;
};

// The failure a Ctrl-C leaves: before block `block` of `pass`, or (no
// pass) while waiting for the drive; the stage and block a journal records.
Failure InterruptionOf(std::optional<Pass> pass, int block, const PassWords& words);

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
  // A Nym clear: the flash is set to 0xFF in place of a file.
  virtual void FlashCleared() {}
  // The 27 series' checksum sector: the image's checksum and its length in
  // 16-bit words, as the run writes them or as a backup reads them.
  virtual void ChecksumSectorValues(std::uint32_t /*checksum*/, int /*words*/) {}
  // The written firmware's checksum sector goes out next.
  virtual void ChecksumSectorWriting() {}
  // The checksum sector read back with `errors` bytes not as written.
  virtual void ChecksumSectorChecked(int /*errors*/) {}
  // The MD5 of the firmware a digest drive holds, as it reported it.
  virtual void DriveDigest(std::span<const std::uint8_t> /*md5*/) {}
  // A digest drive answered without a digest: it holds no valid firmware.
  virtual void NoValidFirmware() {}
  virtual void PassStarted(Pass /*pass*/, int /*total*/, const PassWords& /*words*/) {}
  // Block `block` (counted from 0) of `total` went out or read back the same.
  virtual void BlockDone(Pass /*pass*/, int /*block*/, int /*total*/, const PassWords& /*words*/) {}
  // Block `block` read back with `errors` differing bytes.
  virtual void BlockMismatch(int /*block*/, int /*errors*/, const PassWords& /*words*/) {}
  virtual void PassFinished(Pass /*pass*/) {}
  virtual void Failed(const Failure& /*failure*/) {}
  // After a failure: the device itself (`device`, as opened) went away,
  // unplugged or powered off.
  virtual void DeviceLost(std::string_view /*device*/) {}
  // A TK720 backup found a whole image of `bytes` bytes whose words sum to
  // zero.
  virtual void ChecksummedImageFound(int /*bytes*/) {}
  // A record stream's record `record` (counted from 1) holds the checksum
  // `given` where its bytes give `computed`: a backup keeps it as the drive
  // holds it, and a load of the backup will refuse that line.
  virtual void RecordChecksumWrong(int /*record*/, std::uint8_t /*given*/,
                                   std::uint8_t /*computed*/) {}
  // A backup's file `name` was written with `bytes`.
  virtual void FileSaved(std::string_view /*name*/, std::span<const std::uint8_t> /*bytes*/) {}
  // Whether `driveName`'s flash matches `fileName`, as `checkedBy` found it:
  // the blocks read back (Verify) or the drive's digest (Digest).
  virtual void VerdictReached(bool /*matched*/, const char* /*driveName*/, const char* /*fileName*/,
                              Pass /*checkedBy*/) {}
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
  std::vector<RunReport*> reports_;
};

}  // namespace kelvane
