#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "monitor/flash_model.h"

namespace kelvane::sim {

using FirmwareDigest = std::array<std::uint8_t, 16>;

// A digest drive's check of the firmware image it holds at 0x8000:
//   +0  digest (16 bytes)   +16 time stamp (4)   +20 length field (4, MSB first)
//   +24 firmware
// The monitor computes the MD5 of the length field and what follows it,
// length-field bytes from +20, and holds the firmware valid when that equals
// the digest at +0 and the length is sane (at least the field itself, within
// the flash). The digest when valid, nothing otherwise.
std::optional<FirmwareDigest> CheckFirmwareDigest(const FlashModel& flash);

}  // namespace kelvane::sim
