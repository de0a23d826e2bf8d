#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "flash/run_report.h"

namespace kelvane {

// The identity the Nym, TL3xx and TK720 drives send: 14 basic bytes, then 26
// extended bytes that older monitors leave out.
struct NymIdentity {
  std::uint16_t monitorRevision = 0;
  std::array<char, 3> modelCode{};
  std::array<char, 3> hardwareRevision{};
  std::uint16_t driveCurrentCapability = 0;
  std::int32_t serialNumber = 0;
  std::uint16_t reserved1 = 0;
  std::int32_t personalityBlockSize = 0;
  std::array<std::uint8_t, 6> macAddress{};
  std::uint16_t reserved2 = 0;
  std::uint32_t dateCode = 0;
  std::int32_t manufacturingCode = 0;
  std::int32_t testStationCode = 0;
};

struct Series27Identity {
  std::int16_t buildNumber = 0;
  float driveCurrentCapability = 0;
  float busSensorResolution = 0;
  float currentSensorResolution = 0;
  std::uint16_t monitorRevision = 0;
  std::array<char, 3> modelCode{};
  std::array<char, 3> hardwareRevision{};
  std::uint16_t reserved = 0;
  std::int32_t serialNumber = 0;
};

struct TK720Personality {
  std::int32_t monitorRevision = 0;
  std::int32_t buildNumber = 0;
  float driveCurrentCapability = 0;
  float busSensorResolution = 0;
  float currentSensorResolution = 0;
  std::int32_t serialNumber = 0;
  std::int32_t manufacturingCode = 0;
  std::array<char, 3> hardwareRevision{};
  std::array<char, 3> modelCode{};
  std::array<char, 65> vinNumber{};  // up to 64 characters and a terminating zero
  std::array<std::uint8_t, 6> macAddress{};
  std::uint32_t checksum = 0;
};

// The shortest reply of each layout: the Nym layout's basic part, the 27
// series identity, the TK720 personality.
inline constexpr std::size_t NYM_IDENTITY_BASIC_LENGTH = 14;
inline constexpr std::size_t SERIES27_IDENTITY_LENGTH = 28;
inline constexpr std::size_t TK720_PERSONALITY_LENGTH = 112;

// A reply shorter than a layout reads as zero where the drive sent nothing.
NymIdentity DecodeNymIdentity(std::span<const std::uint8_t> reply);
Series27Identity DecodeSeries27Identity(std::span<const std::uint8_t> reply);
TK720Personality DecodeTK720Personality(std::span<const std::uint8_t> reply);

// The identity lines of each layout straight from the identify reply, as the
// run shows them once the link is up, each with its field's name and value.
DriveIdentity DescribeNymIdentity(std::span<const std::uint8_t> reply);
DriveIdentity DescribeSeries27Identity(std::span<const std::uint8_t> reply);
// The personality, then whether the drive holds valid firmware ("Device
// contains valid firmware." when the reply is 152 bytes or longer).
DriveIdentity DescribeTK720DigestIdentity(std::span<const std::uint8_t> reply);

}  // namespace kelvane
