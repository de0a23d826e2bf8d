#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/family_layout.h"
#include "monitor/flash_model.h"

namespace kelvane::sim {

// Everything a drive tells about itself, the union of the three layouts:
// the 40-byte Nym identity (Nym, TL3xx, TK720), the 28-byte 27 series
// identity and the 112-byte TK720 personality of the digest drives.
struct IdentityFields {
  std::uint32_t monitorRevision = 0;
  std::array<char, 3> modelCode{};
  std::array<char, 3> hardwareRevision{};
  // The Nym layout's current rating: high byte and low byte shown as "HH.LL".
  std::uint16_t nymCurrentCapability = 0;
  // The other layouts' current rating in amperes, and their sensor scales.
  float driveCurrentCapability = 0;
  float busSensorResolution = 0;
  float currentSensorResolution = 0;
  std::int32_t serialNumber = 0;
  std::int32_t buildNumber = 0;
  std::uint16_t reserved1 = 0;
  std::int32_t personalityBlockSize = 0;
  std::array<std::uint8_t, 6> macAddress{};
  std::uint16_t reserved2 = 0;
  std::uint32_t dateCode = 0;
  std::int32_t manufacturingCode = 0;
  std::int32_t testStationCode = 0;
  std::string vinNumber;  // at most 64 characters
  std::uint32_t personalityChecksum = 0;
};

IdentityFields DefaultIdentityFields(SimFamily family);

// Nym layout: 40 bytes, every number least significant byte first.
std::vector<std::uint8_t> EncodeNymIdentity(const IdentityFields& fields);
// 27 series layout: 28 bytes, least significant byte first, IEEE singles.
std::vector<std::uint8_t> EncodeSeries27Identity(const IdentityFields& fields);
// TK720 personality: 112 bytes, most significant byte first, IEEE singles.
std::vector<std::uint8_t> EncodeTK720Personality(const IdentityFields& fields);

// The identity options of the command line, without their leading "--".
bool IsIdentityOption(std::string_view name);
// Sets one field from its option text; an error message naming the option
// when the text does not fit the field (the family decides some encodings).
std::optional<std::string> ApplyIdentityOption(IdentityFields& fields, SimFamily family,
                                               std::string_view name, std::string_view value);

// What the drive answers to an identify request.
struct IdentityConfig {
  IdentityFields fields;
  std::optional<std::vector<std::uint8_t>> verbatim;  // --identity-hex
};

// A digest drive's reply with valid firmware: the personality, the digest at
// bytes 112..127, zeros up to this length.
inline constexpr std::size_t DIGEST_REPLY_LENGTH = 152;
inline constexpr std::size_t PERSONALITY_LENGTH = 112;

// The identify reply payload of a drive of `family` holding `flash`.
std::vector<std::uint8_t> IdentityReply(const IdentityConfig& config, SimFamily family,
                                        const FlashModel& flash);

}  // namespace kelvane::sim
