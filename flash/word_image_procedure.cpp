#include <vector>

#include "digest/sha256_digest.h"
#include "flash/block_passes.h"
#include "flash/checksum_sector.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/word_image.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// Writes (unless verify-only) the checksum sector, reads it back and says
// whether it holds what was meant (`matched`). A difference is reported, not
// fatal: the firmware sectors are still verified before the verdict. False
// after a failed exchange, reported.
bool UpdateChecksumSector(const ProcedureRun& run, bool& matched) {
  const PreparedImage& image = run.image;
  run.report.ChecksumSectorValues(FirmwareChecksum(image.bytes, image.length),
                                  static_cast<int>(FirmwareWordCount(image.length)));
  const ChecksumSector sector = BuildChecksumSector(image.bytes, image.length);
  if (!run.options.verifyOnly) {
    const LinkResult written =
        WriteFlashBlock(run.link, run.family, CHECKSUM_SECTOR_ADDRESS, sector);
    if (!written.ok()) {
      run.report.Failed(Failure(Stage::ChecksumSector, FailureReason::ChecksumSectorWriteFailed,
                                CHECKSUM_SECTOR_NUMBER, written));
      return false;
    }
  }
  // Read back with the sector's full length, as every other sector is.
  std::span<const std::uint8_t> reply;
  const LinkResult read =
      ReadFlashBlock(run.link, run.family, CHECKSUM_SECTOR_ADDRESS, CHECKSUM_SECTOR_SIZE, reply);
  if (!read.ok()) {
    run.report.Failed(Failure(Stage::ChecksumSector, FailureReason::ChecksumSectorReadFailed,
                              CHECKSUM_SECTOR_NUMBER, read));
    return false;
  }
  const int errors = CountErroneousLocations(sector, reply);
  matched = errors == 0;
  run.report.ChecksumSectorChecked(errors);
  return true;
}

}  // namespace

PreparedImage PrepareWordImage(const RunOptions& options, const BlockFamily& family,
                               std::uint32_t /*now*/) {
  PreparedImage image;
  image.bytes.assign(family.imageArea, 0xFF);
  std::vector<std::uint8_t> file;
  image.refused = !ReadNamedFirmwareFile(options, file, image.messages) ||
                  ReadWordImage(file, image.bytes, family.maxImageLength, image.length,
                                image.messages, &image.description) == FileRead::Refused;
  if (image.refused) return image;
  image.fileSha256 = Sha256Of(file);
  image.fileName = FileNameForDisplay(options);
  image.check = {.kind = CheckKind::WordImageChecksum,
                 .word = FirmwareChecksum(image.bytes, image.length)};
  image.total = BlockCount(family, image.length);
  return image;
}

Verdict RunWordImageProcedure(const ProcedureRun& run) {
  if (!TellFileMessages(run.image, run.report)) return Verdict::FileRefused;
  const BlockRange range = run.image.range();
  if (!run.options.verifyOnly) {
    const PassEnd written = RunWritePass(run.link, run.family, range, run.report, run.stop);
    if (written != PassEnd::Completed) return VerdictOfUnfinished(written);
    if (run.family.checksumSector) run.report.ChecksumSectorWriting();
  }
  // A checksum sector that reads back wrong leaves a drive whose boot code
  // will not start the firmware: the flash does not match the file, whatever
  // the sectors' own comparison finds.
  bool sectorMatched = true;
  if (run.family.checksumSector) {
    if (StopAsked(run.stop)) {
      run.report.Interrupted(Pass::Verify, range.first, WordsOf(run.family));
      return Verdict::Interrupted;
    }
    if (!UpdateChecksumSector(run, sectorMatched)) return Verdict::Failed;
  }
  bool matched = false;
  const PassEnd verified =
      RunVerifyPass(run.link, run.family, range, matched, run.report, run.stop);
  if (verified != PassEnd::Completed) return VerdictOfUnfinished(verified);
  matched = matched && sectorMatched;
  run.report.VerdictReached(matched, run.family.driveName, run.image.fileName.c_str(),
                            Pass::Verify);
  return matched ? Verdict::Verified : Verdict::Mismatch;
}

}  // namespace kelvane
