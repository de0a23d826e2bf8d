#include <algorithm>
#include <vector>

#include "digest/sha256_digest.h"
#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/record_stream.h"

namespace kelvane {

namespace {

// Erasing writes 0xFF over this many bytes: sectors 0 to 991.
constexpr int CLEAR_IMAGE_LENGTH = 253800;
// The drive's parameters live from sector 736 (write address 0x2E000) on.
constexpr int PARAMETERS_FIRST_SECTOR = 736;

}  // namespace

PreparedImage PrepareNymImage(const RunOptions& options, const BlockFamily& family,
                              std::uint32_t /*now*/) {
  PreparedImage image;
  // Erased flash reads 0xFF, so the part of the area no record fills (and the
  // whole area when erasing) holds exactly what the drive keeps there.
  std::vector<std::uint8_t>& area = image.bytes;
  area.assign(family.imageArea, 0xFF);
  image.fileName = FileNameForDisplay(options);
  if (options.clearMode != ClearMode::None) {
    // Erasing takes the place of the file, which is not even opened.
    image.clears = true;
    image.length = CLEAR_IMAGE_LENGTH;
    if (options.clearMode == ClearMode::ParametersSection) image.first = PARAMETERS_FIRST_SECTOR;
  } else {
    std::vector<std::uint8_t> file;
    image.refused = !ReadNamedFirmwareFile(options, file, image.messages) ||
                    ReadRecordStream(file, area, image.length, image.messages,
                                     &image.description) == FileRead::Refused;
    if (image.refused) return image;
    image.fileSha256 = Sha256Of(file);
    std::fill(area.begin() + std::min<std::ptrdiff_t>(image.length, std::ssize(area)), area.end(),
              std::uint8_t{0xFF});
  }
  // One sector more than the stream fills: the stream's end always lands in
  // a sector the drive gets, even when it ends on a sector boundary.
  image.total = BlockCount(family, image.length);
  return image;
}

bool TellFileMessages(const PreparedImage& image, RunReport& report) {
  if (image.clears) report.FlashCleared();
  Failure refusal(Stage::File, FailureReason::FileRefused);
  for (const FileMessage& message : image.messages.all()) {
    if (message.kind == FileMessageKind::Refusal) {
      refusal.detail += message.text;
    } else if (message.kind == FileMessageKind::Explanation) {
      // Why the file was refused, said with the refusal.
      refusal.explanation += message.text;
    } else {
      report.FileMessage(message);
    }
  }
  if (image.refused) report.Failed(refusal);
  return !image.refused;
}

Verdict RunReadBackProcedure(const ProcedureRun& run) {
  if (!TellFileMessages(run.image, run.report)) return Verdict::FileRefused;
  const BlockRange range = run.image.range();
  if (!run.options.verifyOnly) {
    const PassEnd written = RunWritePass(run.link, run.family, range, run.report, run.stop);
    if (written != PassEnd::Completed) return VerdictOfUnfinished(written);
  }
  bool matched = false;
  const PassEnd verified =
      RunVerifyPass(run.link, run.family, range, matched, run.report, run.stop);
  if (verified != PassEnd::Completed) return VerdictOfUnfinished(verified);
  run.report.VerdictReached(matched, run.family.driveName, run.image.fileName.c_str(),
                            Pass::Verify);
  return matched ? Verdict::Verified : Verdict::Mismatch;
}

}  // namespace kelvane
