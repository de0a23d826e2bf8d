#include <algorithm>
#include <ctime>

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
// the image's. Returns 0 with `matched` set, or 1 after a failed exchange.
int VerifyDigest(SerialPort& port, std::span<const std::uint8_t, FIRMWARE_DIGEST_SIZE> fileDigest,
                 bool& matched, std::FILE* out) {
  matched = true;
  std::fputs("Verifying firmware:\r\n", out);
  std::span<const std::uint8_t> reply;
  const int result = TransactEmpty(port, CMD_IDENTIFY, reply);
  if (result != LINK_OK) {
    std::fprintf(out, "Communication failure %d during verification\n", result);
    return 1;
  }
  // Without valid firmware the monitor sends its personality alone.
  if (reply.size() < VALID_FIRMWARE_REPLY_LENGTH) {
    std::fputs("Unit doesn't have any valid firmware\n", out);
    matched = false;
    return 0;
  }
  const auto unitDigest = reply.subspan(FIRMWARE_DIGEST_OFFSET, FIRMWARE_DIGEST_SIZE);
  matched = std::equal(fileDigest.begin(), fileDigest.end(), unitDigest.begin());
  std::fputs("Unit MD5 : ", out);
  for (std::uint8_t byte : unitDigest) std::fprintf(out, "%02X", static_cast<unsigned>(byte));
  std::fputs("\n", out);
  return 0;
}

}  // namespace

int PrepareTK720DigestImage(const RunOptions& options, const BlockFamily& family,
                            PreparedImage& image, std::FILE* out, std::FILE* /*err*/) {
  const char* fileName = BinaryImageFileName(options, out);
  if (fileName == nullptr) return 1;
  // The stamp lies outside the digested bytes: it records when the drive was
  // loaded without changing what the drive reports.
  const auto timeStamp = static_cast<std::uint32_t>(std::time(nullptr));
  DigestStampedImage stamped;
  if (PrepareDigestStampedImage(fileName, timeStamp, stamped, out) != 0) return 1;
  image.fileName = fileName;
  image.length = stamped.length;
  image.check.kind = CheckKind::Digest;
  std::ranges::copy(stamped.digest(), image.check.digest.begin());
  image.check.timeStamp = timeStamp;
  image.bytes = std::move(stamped.bytes);
  image.total = BlockCount(family, image.length);
  return 0;
}

int RunTK720DigestProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                            std::FILE* out, std::FILE* err) {
  PreparedImage image;
  if (PrepareTK720DigestImage(options, family, image, out, err) != 0) return PROCEDURE_FAILED;
  if (!options.verifyOnly && RunWritePass(port, family, image.range(), out) != 0)
    return PROCEDURE_FAILED;
  bool matched = false;
  if (VerifyDigest(port, image.check.digest, matched, out) != 0) return PROCEDURE_FAILED;
  if (matched) {
    std::fputs("\nFirmware was successufully verifyed\r\n", out);
  } else {
    std::fprintf(out, "\nFirmware in the %s drive does not much the file %s\r\n", family.driveName,
                 image.fileName);
  }
  std::fflush(out);
  return Verdict(matched);
}

}  // namespace kelvane
