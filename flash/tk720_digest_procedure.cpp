#include <algorithm>
#include <vector>

#include "digest/sha256_digest.h"
#include "flash/block_passes.h"
#include "flash/firmware_source.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "image/digest_stamped_image.h"
#include "link/drive_commands.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// Asks the drive for the digest of the firmware it holds and compares it with
// the image's. False after a failed exchange, reported.
bool VerifyDigest(const ProcedureRun& run, bool& matched) {
  matched = true;
  run.report.PassStarted(Pass::Digest, 1, WordsOf(run.family));
  std::span<const std::uint8_t> reply;
  const LinkResult result = run.link.TransactEmpty(CMD_IDENTIFY, reply);
  if (!result.ok()) {
    run.report.Failed(Failure(Stage::Digest, FailureReason::DigestFailed, std::nullopt, result));
    return false;
  }
  // Without valid firmware the monitor sends its personality alone.
  if (reply.size() < VALID_FIRMWARE_REPLY_LENGTH) {
    run.report.NoValidFirmware();
    matched = false;
    return true;
  }
  const auto unitDigest = reply.subspan(FIRMWARE_DIGEST_OFFSET, FIRMWARE_DIGEST_SIZE);
  const auto& fileDigest = run.image.check.digest;
  matched = std::equal(fileDigest.begin(), fileDigest.end(), unitDigest.begin());
  run.report.DriveDigest(unitDigest);
  return true;
}

}  // namespace

PreparedImage PrepareTK720DigestImage(const RunOptions& options, const BlockFamily& family,
                                      std::uint32_t now) {
  PreparedImage image;
  std::vector<std::uint8_t> file;
  // The stamp lies outside the digested bytes: it records when the drive was
  // loaded without changing what the drive reports.
  DigestStampedImage stamped;
  image.refused = !ReadNamedFirmwareFile(options, file, image.messages) ||
                  PrepareDigestStampedImage(file, options.fileName->c_str(), now, stamped,
                                            image.messages) == FileRead::Refused;
  if (image.refused) return image;
  image.fileSha256 = Sha256Of(file);
  image.fileName = *options.fileName;
  image.description.format = "binary image";
  image.length = stamped.length;
  image.check.kind = CheckKind::Digest;
  std::ranges::copy(stamped.digest(), image.check.digest.begin());
  image.check.timeStamp = now;
  image.bytes = std::move(stamped.bytes);
  image.total = BlockCount(family, image.length);
  return image;
}

Verdict RunTK720DigestProcedure(const ProcedureRun& run) {
  if (!TellFileMessages(run.image, run.report)) return Verdict::FileRefused;
  if (!run.options.verifyOnly) {
    const PassEnd written =
        RunWritePass(run.link, run.family, run.image.range(), run.report, run.stop);
    if (written != PassEnd::Completed) return VerdictOfUnfinished(written);
  }
  if (StopAsked(run.stop)) {
    run.report.Interrupted(Pass::Digest, 0, WordsOf(run.family));
    return Verdict::Interrupted;
  }
  bool matched = false;
  if (!VerifyDigest(run, matched)) return Verdict::Failed;
  run.report.VerdictReached(matched, run.family.driveName, run.image.fileName.c_str(),
                            Pass::Digest);
  return matched ? Verdict::Verified : Verdict::Mismatch;
}

}  // namespace kelvane
