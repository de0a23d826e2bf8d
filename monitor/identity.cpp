#include "monitor/identity.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <string>

#include "monitor/firmware_digest.h"
#include "monitor/number_text.h"

namespace kelvane::sim {

namespace {

std::array<char, 3> Code(const char* text) {
  return {text[0], text[1], text[2]};
}

// Appends `size` bytes of `value`, in the layout's byte order.
void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int size, bool bigEndian) {
  for (int i = 0; i < size; ++i) {
    const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void PutChars(std::vector<std::uint8_t>& out, const std::array<char, 3>& chars) {
  for (char c : chars) out.push_back(static_cast<std::uint8_t>(c));
}

std::uint32_t Bits(float value) {
  return std::bit_cast<std::uint32_t>(value);
}
std::uint32_t Bits(std::int32_t value) {
  return static_cast<std::uint32_t>(value);
}

std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() != 12) return std::nullopt;
  std::array<std::uint8_t, 6> mac{};
  for (std::size_t i = 0; i < 6; ++i) {
    mac[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
  }
  return mac;
}

// The Nym layout's current rating "HH.LL": two hex bytes around a point.
std::optional<std::uint16_t> ParseNymCurrent(std::string_view text) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos) return std::nullopt;
  const auto high = ParseUnsigned("0x" + std::string(text.substr(0, point)), 0xFF);
  const auto low = ParseUnsigned("0x" + std::string(text.substr(point + 1)), 0xFF);
  if (!high || !low) return std::nullopt;
  return static_cast<std::uint16_t>(*high << 8 | *low);
}

}  // namespace

IdentityFields DefaultIdentityFields(SimFamily family) {
  IdentityFields fields;
  fields.macAddress = {0x00, 0x1B, 0x5C, 0x3A, 0x07, 0xD2};
  fields.personalityBlockSize = 512;
  fields.dateCode = 0x20240611;
  fields.manufacturingCode = 4;
  fields.testStationCode = 12;
  switch (family) {
    case SimFamily::Nym:
      fields.monitorRevision = 0x0412;
      fields.modelCode = Code("770");
      fields.hardwareRevision = Code("C03");
      fields.nymCurrentCapability = 0x0250;
      fields.serialNumber = 770123;
      break;
    case SimFamily::TL3xx:
      fields.monitorRevision = 0x0207;
      fields.modelCode = Code("310");
      fields.hardwareRevision = Code("B01");
      fields.nymCurrentCapability = 0x0125;
      fields.serialNumber = 310456;
      fields.personalityBlockSize = 256;
      break;
    case SimFamily::TK720:
      fields.monitorRevision = 0x0530;
      fields.modelCode = Code("720");
      fields.hardwareRevision = Code("A02");
      fields.nymCurrentCapability = 0x1250;
      fields.serialNumber = 720301;
      break;
    case SimFamily::Series27:
      fields.monitorRevision = 0x0311;
      fields.modelCode = Code("27S");
      fields.hardwareRevision = Code("D01");
      fields.driveCurrentCapability = 6.0F;
      fields.busSensorResolution = 17.5F;
      fields.currentSensorResolution = 204.8F;
      fields.serialNumber = 270789;
      fields.buildNumber = 1375;
      break;
    case SimFamily::TK720Digest:
      fields.monitorRevision = 5;
      fields.modelCode = Code("72D");
      fields.hardwareRevision = Code("102");
      fields.driveCurrentCapability = 12.5F;
      fields.busSensorResolution = 40.96F;
      fields.currentSensorResolution = 163.84F;
      fields.serialNumber = 720555;
      fields.buildNumber = 2210;
      fields.manufacturingCode = 3;
      fields.vinNumber = "SIM720-000555";
      fields.personalityChecksum = 0x5A3C;
      break;
  }
  return fields;
}

std::vector<std::uint8_t> EncodeNymIdentity(const IdentityFields& f) {
  std::vector<std::uint8_t> out;
  Put(out, f.monitorRevision, 2, false);
  PutChars(out, f.modelCode);
  PutChars(out, f.hardwareRevision);
  Put(out, f.nymCurrentCapability, 2, false);
  Put(out, Bits(f.serialNumber), 4, false);
  Put(out, f.reserved1, 2, false);
  Put(out, Bits(f.personalityBlockSize), 4, false);
  out.insert(out.end(), f.macAddress.begin(), f.macAddress.end());
  Put(out, f.reserved2, 2, false);
  Put(out, f.dateCode, 4, false);
  Put(out, Bits(f.manufacturingCode), 4, false);
  Put(out, Bits(f.testStationCode), 4, false);
  return out;
}

std::vector<std::uint8_t> EncodeSeries27Identity(const IdentityFields& f) {
  std::vector<std::uint8_t> out;
  Put(out, Bits(f.buildNumber), 2, false);
  Put(out, Bits(f.driveCurrentCapability), 4, false);
  Put(out, Bits(f.busSensorResolution), 4, false);
  Put(out, Bits(f.currentSensorResolution), 4, false);
  Put(out, f.monitorRevision, 2, false);
  PutChars(out, f.modelCode);
  PutChars(out, f.hardwareRevision);
  Put(out, f.reserved1, 2, false);
  Put(out, Bits(f.serialNumber), 4, false);
  return out;
}

std::vector<std::uint8_t> EncodeTK720Personality(const IdentityFields& f) {
  std::vector<std::uint8_t> out;
  Put(out, f.monitorRevision, 4, true);
  Put(out, Bits(f.buildNumber), 4, true);
  Put(out, Bits(f.driveCurrentCapability), 4, true);
  Put(out, Bits(f.busSensorResolution), 4, true);
  Put(out, Bits(f.currentSensorResolution), 4, true);
  Put(out, Bits(f.serialNumber), 4, true);
  Put(out, Bits(f.manufacturingCode), 4, true);
  PutChars(out, f.hardwareRevision);
  out.push_back(0);
  PutChars(out, f.modelCode);
  out.push_back(0);
  std::array<std::uint8_t, 64> vin{};  // zero-terminated unless it fills the field
  std::copy_n(f.vinNumber.begin(), std::min<std::size_t>(f.vinNumber.size(), vin.size()),
              vin.begin());
  out.insert(out.end(), vin.begin(), vin.end());
  out.insert(out.end(), f.macAddress.begin(), f.macAddress.end());
  Put(out, 0, 2, true);
  Put(out, f.personalityChecksum, 4, true);
  return out;
}

namespace {

constexpr std::string_view IDENTITY_OPTIONS[] = {
    "serial",
    "model",
    "hardware",
    "monitor-revision",
    "build",
    "current",
    "bus-resolution",
    "current-resolution",
    "mac",
    "manufacturing-code",
    "vin",
    "personality-checksum",
};

}  // namespace

bool IsIdentityOption(std::string_view name) {
  return std::find(std::begin(IDENTITY_OPTIONS), std::end(IDENTITY_OPTIONS), name) !=
         std::end(IDENTITY_OPTIONS);
}

std::optional<std::string> ApplyIdentityOption(IdentityFields& f, SimFamily family,
                                               std::string_view name, std::string_view value) {
  const std::string option = "--" + std::string(name);
  const auto bad = [&](const char* what) {
    return option + ": '" + std::string(value) + "' is not " + what;
  };
  constexpr std::int64_t I32_MIN = INT32_MIN;
  constexpr std::int64_t I32_MAX = INT32_MAX;
  if (name == "model" || name == "hardware") {
    if (value.size() != 3) return bad("three characters");
    (name == "model" ? f.modelCode : f.hardwareRevision) = {value[0], value[1], value[2]};
  } else if (name == "serial" || name == "manufacturing-code") {
    const auto number = ParseSigned(value, I32_MIN, I32_MAX);
    if (!number) return bad("a signed 32-bit number");
    const auto v = static_cast<std::int32_t>(*number);
    if (name == "serial") f.serialNumber = v;
    if (name == "manufacturing-code") f.manufacturingCode = v;
  } else if (name == "monitor-revision") {
    // Two bytes in the Nym and 27 series layouts, four in the personality.
    const std::uint64_t max = family == SimFamily::TK720Digest ? 0xFFFFFFFF : 0xFFFF;
    const auto number = ParseUnsigned(value, max);
    if (!number) return bad(max == 0xFFFF ? "a 16-bit number" : "a 32-bit number");
    f.monitorRevision = static_cast<std::uint32_t>(*number);
  } else if (name == "build") {
    const bool narrow = family == SimFamily::Series27;
    const auto number =
        narrow ? ParseSigned(value, INT16_MIN, INT16_MAX) : ParseSigned(value, I32_MIN, I32_MAX);
    if (!number) return bad(narrow ? "a signed 16-bit number" : "a signed 32-bit number");
    f.buildNumber = static_cast<std::int32_t>(*number);
  } else if (name == "current") {
    if (family == SimFamily::Nym || family == SimFamily::TL3xx || family == SimFamily::TK720) {
      const auto current = ParseNymCurrent(value);
      if (!current) return bad("two hex bytes HH.LL");
      f.nymCurrentCapability = *current;
    } else {
      const auto current = ParseFloat(value);
      if (!current) return bad("a number of amperes");
      f.driveCurrentCapability = *current;
    }
  } else if (name == "bus-resolution" || name == "current-resolution") {
    const auto number = ParseFloat(value);
    if (!number) return bad("a number");
    (name == "bus-resolution" ? f.busSensorResolution : f.currentSensorResolution) = *number;
  } else if (name == "mac") {
    const auto mac = ParseMac(value);
    if (!mac) return bad("six hex bytes");
    f.macAddress = *mac;
  } else if (name == "personality-checksum") {
    const auto number = ParseUnsigned(value, 0xFFFFFFFF);
    if (!number) return bad("a 32-bit number");
    f.personalityChecksum = static_cast<std::uint32_t>(*number);
  } else if (name == "vin") {
    if (value.size() > 64) return bad("at most 64 characters");
    f.vinNumber = std::string(value);
  } else {
    return option + ": not an identity field";
  }
  return std::nullopt;
}

std::vector<std::uint8_t> IdentityReply(const IdentityConfig& config, SimFamily family,
                                        const FlashModel& flash) {
  std::vector<std::uint8_t> reply;
  if (config.verbatim) {
    reply = *config.verbatim;
  } else if (family == SimFamily::Series27) {
    reply = EncodeSeries27Identity(config.fields);
  } else if (family == SimFamily::TK720Digest) {
    reply = EncodeTK720Personality(config.fields);
    if (const auto digest = CheckFirmwareDigest(flash)) {
      reply.insert(reply.end(), digest->begin(), digest->end());
      reply.resize(DIGEST_REPLY_LENGTH, 0);
    }
  } else {
    reply = EncodeNymIdentity(config.fields);
  }
  return reply;
}

}  // namespace kelvane::sim
