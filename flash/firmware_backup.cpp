#include "flash/firmware_backup.h"

#include <algorithm>
#include <optional>
#include <string>

#include "flash/checksum_sector.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"
#include "image/record_lines.h"
#include "image/record_stream.h"
#include "image/whole_file.h"
#include "image/word_image.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

bool Erased(std::span<const std::uint8_t> bytes) {
  return std::ranges::all_of(bytes, [](std::uint8_t byte) { return byte == 0xFF; });
}

// Whole blocks that `bytes` bytes take.
int BlocksFor(const BlockFamily& family, std::size_t bytes) {
  return static_cast<int>((bytes + family.blockSize - 1) / family.blockSize);
}

// A drive that holds no image of its family has nothing a load could put
// back: erased flash, or bytes the family's format cannot be read from.
// `at`: where a record stream breaks off.
PassEnd NoImage(std::span<const std::uint8_t> read, ImageKind image, NoImageWhy why,
                RunReport& report, int at = 0) {
  Failure failure(Stage::Read, FailureReason::NoImage);
  failure.image = image;
  failure.why = Erased(read) ? NoImageWhy::Erased : why;
  failure.count = at;
  report.Failed(failure);
  return PassEnd::Failed;
}

// A stream of S7/S8 records alone is no firmware, and no file a load takes.
bool HoldsDataRecords(std::span<const std::uint8_t> records) {
  for (std::size_t p = 0; p + 1 < records.size(); p += 2 + records[p + 1]) {
    if (records[p] == '2' || records[p] == '3') return true;
  }
  return false;
}

void Take(const std::string& text, std::vector<std::uint8_t>& file) {
  file.assign(text.begin(), text.end());
}

// The 27 series' checksum sector: the length in bytes of the image it
// describes, and its checksum; nothing after saying why there is none.
// `sector` keeps what was read.
std::optional<int> ReadChecksumSector(FrameExchange& link, const BlockFamily& family,
                                      std::vector<std::uint8_t>& sector, std::uint32_t& checksum,
                                      RunReport& report) {
  std::span<const std::uint8_t> reply;
  const LinkResult result =
      ReadFlashBlock(link, family, CHECKSUM_SECTOR_ADDRESS, CHECKSUM_SECTOR_SIZE, reply);
  if (!result.ok() || reply.size() < CHECKSUM_SECTOR_SIZE) {
    report.Failed(Failure(Stage::ChecksumSector, FailureReason::ChecksumSectorReadFailed,
                          CHECKSUM_SECTOR_NUMBER,
                          result.ok() ? std::nullopt : std::optional<LinkResult>(result)));
    return std::nullopt;
  }
  sector.assign(reply.begin(), reply.begin() + CHECKSUM_SECTOR_SIZE);
  const auto field = [&sector](std::size_t at) {
    return LoadWord32(std::span<const std::uint8_t>(sector).subspan(at).first<4>(),
                      ByteOrder::LeastSignificantFirst);
  };
  if (field(0) != CHECKSUM_SECTOR_MARKER) {
    NoImage(sector, ImageKind::WordImage, NoImageWhy::NoMarker, report);
    return std::nullopt;
  }
  const std::uint32_t words = field(4);
  checksum = field(8);
  report.ChecksumSectorValues(checksum, static_cast<int>(words));
  if (words > static_cast<std::uint32_t>(family.maxImageLength - 4) / 2) {
    NoImage(sector, ImageKind::WordImage, NoImageWhy::SectorTooLong, report);
    return std::nullopt;
  }
  return static_cast<int>(2 * words + 4);
}

// A drive loaded before record checksums were checked may hold a record
// whose checksum byte does not match it: the backup keeps the drive's bytes
// as they are, and says which record a load of the backup will refuse.
void WarnOfWrongChecksums(std::span<const std::uint8_t> records, RunReport& report) {
  int record = 0;
  for (std::size_t p = 0; p + 1 < records.size(); p += 2 + records[p + 1]) {
    ++record;
    const std::uint8_t count = records[p + 1];
    if (count == 0 || p + 2 + count > records.size()) continue;
    const auto bytes = records.subspan(p + 1, count);  // the count and all but the checksum
    const std::uint8_t expected = RecordChecksum(bytes), given = records[p + 1 + count];
    if (given != expected) report.RecordChecksumWrong(record, given, expected);
  }
}

}  // namespace

PassEnd BackUpRecordStream(FrameExchange& link, const BlockFamily& family,
                           std::vector<std::uint8_t>& file, RunReport& report,
                           const StopFlag* stop) {
  const int most = BlocksFor(family, family.readArea);
  std::size_t position = 0;
  StreamScan scan = StreamScan::Unfinished;
  // The stream is read until its end marker has come, and not a block more.
  const BlocksNeeded needed = [&](std::span<const std::uint8_t> read) {
    if (scan == StreamScan::Unfinished) scan = ScanRecordStream(read, position);
    return scan == StreamScan::Unfinished ? most : BlocksFor(family, read.size());
  };
  std::vector<std::uint8_t> flash;
  if (const PassEnd end = RunReadPass(link, family, needed, flash, report, stop);
      end != PassEnd::Completed)
    return end;
  if (scan == StreamScan::Invalid)
    return NoImage(flash, ImageKind::RecordStream, NoImageWhy::BreaksOff, report,
                   static_cast<int>(position));
  if (scan == StreamScan::Unfinished)
    return NoImage(flash, ImageKind::RecordStream, NoImageWhy::NoEndMarker, report);
  const auto records = std::span<const std::uint8_t>(flash).first(position - 2);
  if (!HoldsDataRecords(records))
    return NoImage(flash, ImageKind::RecordStream, NoImageWhy::NoDataRecords, report);
  Take(FormatRecordStream(records), file);
  WarnOfWrongChecksums(records, report);
  return PassEnd::Completed;
}

PassEnd BackUpWordImage(FrameExchange& link, const BlockFamily& family,
                        std::vector<std::uint8_t>& file, RunReport& report, const StopFlag* stop) {
  std::vector<std::uint8_t> sector;
  std::uint32_t checksum = 0;
  int length = 0;
  if (family.checksumSector) {
    const std::optional<int> described = ReadChecksumSector(link, family, sector, checksum, report);
    if (!described) return PassEnd::Failed;
    length = *described;
  }
  // Without a checksum sector every block that can hold an image is read.
  const int blocks =
      family.checksumSector ? BlockCount(family, length) : BlocksFor(family, family.readArea);
  std::vector<std::uint8_t> flash;
  if (const PassEnd end = RunReadPass(
          link, family, [blocks](auto) { return blocks; }, flash, report, stop);
      end != PassEnd::Completed)
    return end;
  const auto image = std::span<const std::uint8_t>(flash).first(
      std::min<std::size_t>(flash.size(), static_cast<std::size_t>(family.maxImageLength)));
  if (!family.checksumSector) {
    length = FindWordImageLength(image);
    if (length == 0) return NoImage(flash, ImageKind::WordImage, NoImageWhy::NoChecksumEnd, report);
  } else if (WordImageChecksum(image.first(length - 4)) != checksum ||
             LoadWord32(image.subspan(length - 4).first<4>(), ByteOrder::LeastSignificantFirst) !=
                 checksum) {
    return NoImage(flash, ImageKind::WordImage, NoImageWhy::SectorMismatch, report);
  }
  // A checksum with nothing before it is no firmware, and no file a load takes.
  if (length == 4) return NoImage(flash, ImageKind::WordImage, NoImageWhy::NoData, report);
  Take(FormatWordImage(image.first(length - 4)), file);
  return PassEnd::Completed;
}

PassEnd BackUpChecksummedImage(FrameExchange& link, const BlockFamily& family,
                               std::vector<std::uint8_t>& file, RunReport& report,
                               const StopFlag* stop) {
  int length = 0;
  // The header in the first block gives the image's length.
  const BlocksNeeded needed = [&](std::span<const std::uint8_t> read) {
    if (read.empty()) return 1;
    length = ChecksummedImageLength(read.first<8>());
    const bool fits = length > 0 && static_cast<std::size_t>(length) <= family.readArea;
    return fits ? BlockCount(family, length) : 1;
  };
  std::vector<std::uint8_t> flash;
  if (const PassEnd end = RunReadPass(link, family, needed, flash, report, stop);
      end != PassEnd::Completed)
    return end;
  if (length == 0) return NoImage(flash, ImageKind::TK720Image, NoImageWhy::NoHeader, report);
  if (static_cast<std::size_t>(length) > family.readArea)
    return NoImage(flash, ImageKind::TK720Image, NoImageWhy::HeaderTooLong, report);
  if (!ChecksummedImageSumsToZero(std::span(flash).first(length)))
    return NoImage(flash, ImageKind::TK720Image, NoImageWhy::SumNotZero, report);
  report.ChecksummedImageFound(length);
  // The load appends the check word again, the same since the sum is zero.
  file.assign(flash.begin(), flash.begin() + (length - 4));
  return PassEnd::Completed;
}

Verdict RunBackupProcedure(const ProcedureRun& run, FirmwareBackup backup) {
  const std::string& name = *run.options.backupFileName;
  // A folder that cannot take the file is found out before the drive is read.
  if (!CanSaveFile(name.c_str())) {
    Failure failure(Stage::File, FailureReason::FileNotCreated);
    failure.name = name;
    run.report.Failed(failure);
    return Verdict::Failed;
  }
  std::vector<std::uint8_t> file;
  if (const PassEnd end = backup(run.link, run.family, file, run.report, run.stop);
      end != PassEnd::Completed)
    return VerdictOfUnfinished(end);
  if (SaveWholeFile(name.c_str(), file) != FileSave::Saved) {
    Failure failure(Stage::File, FailureReason::FileNotWritten);
    failure.name = name;
    run.report.Failed(failure);
    return Verdict::Failed;
  }
  run.report.FileSaved(name, file);
  return Verdict::BackupSaved;
}

}  // namespace kelvane
