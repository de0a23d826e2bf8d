#include "monitor/firmware_digest.h"

#include <algorithm>

#include "digest/md5_digest.h"

namespace kelvane::sim {

std::optional<FirmwareDigest> CheckFirmwareDigest(const FlashModel& flash) {
  const auto cells = flash.contents();
  constexpr std::uint32_t DIGESTED_START = DIGEST_IMAGE_ADDRESS + 20;
  if (cells.size() < DIGESTED_START + 4) return std::nullopt;
  const std::uint32_t length =
      std::uint32_t{cells[DIGESTED_START]} << 24 | std::uint32_t{cells[DIGESTED_START + 1]} << 16 |
      std::uint32_t{cells[DIGESTED_START + 2]} << 8 | cells[DIGESTED_START + 3];
  // Erased flash reads 0xFFFFFFFF here, which this rejects.
  if (length < 4 || length > cells.size() - DIGESTED_START) return std::nullopt;
  FirmwareDigest computed{};
  Md5Digest(computed, cells.subspan(DIGESTED_START, length));
  if (!std::equal(computed.begin(), computed.end(), cells.begin() + DIGEST_IMAGE_ADDRESS)) {
    return std::nullopt;
  }
  return computed;
}

}  // namespace kelvane::sim
