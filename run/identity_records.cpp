#include "run/identity_records.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

#include "link/drive_commands.h"

namespace kelvane {

namespace {

// The reply buffer's data area: no identity layout reads further than this.
constexpr std::size_t IDENTITY_AREA = 300;

constexpr std::size_t NYM_FULL_LENGTH = 40;
constexpr std::size_t VIN_FIELD_LENGTH = 64;

// The reply copied into a zeroed area, so that every byte a layout reads
// beyond what the drive sent is zero, never an earlier reply's leftovers.
using IdentityArea = std::array<std::uint8_t, IDENTITY_AREA>;

IdentityArea CopyReply(std::span<const std::uint8_t> reply) {
  IdentityArea area{};
  std::copy_n(reply.begin(), std::min(reply.size(), area.size()), area.begin());
  return area;
}

std::uint16_t Little16(const IdentityArea& area, std::size_t at) {
  return static_cast<std::uint16_t>(area[at] | (area[at + 1] << 8));
}

std::uint32_t Word32(const IdentityArea& area, std::size_t at, ByteOrder order) {
  return LoadWord32(std::span<const std::uint8_t, 4>(area.data() + at, 4), order);
}

std::uint32_t Little32(const IdentityArea& area, std::size_t at) {
  return Word32(area, at, ByteOrder::LeastSignificantFirst);
}

// The TK720 monitor sends its numbers most significant byte first.
std::uint32_t Big32(const IdentityArea& area, std::size_t at) {
  return Word32(area, at, ByteOrder::MostSignificantFirst);
}

// Numbers go to printf as int or unsigned, reals as double.
inline int Widen(std::int32_t value) {
  return value;
}
inline int Widen(std::int16_t value) {
  return value;
}
inline unsigned Widen(std::uint32_t value) {
  return value;
}
inline unsigned Widen(std::uint16_t value) {
  return value;
}
inline unsigned Widen(std::uint8_t value) {
  return value;
}
inline double Widen(float value) {
  return value;
}

std::array<char, 3> Chars3(const IdentityArea& area, std::size_t at) {
  return {static_cast<char>(area[at]), static_cast<char>(area[at + 1]),
          static_cast<char>(area[at + 2])};
}

// A field as printf shows it. Each field's number is passed as the type its
// format takes.
template <typename... Values>
std::string Text(const char* format, Values... values) {
  char text[64];
  std::snprintf(text, sizeof text, format, Widen(values)...);
  return text;
}

// The three characters of a code, every byte unchanged, printable or not
// (a zero byte included, as %c prints it).
std::string Chars(const std::array<char, 3>& chars) {
  return std::string(chars.data(), chars.size());
}

// Builds the identity's lines, each the label, the field and the layout's
// line end.
class IdentityLines {
 public:
  explicit IdentityLines(std::span<const std::uint8_t> reply, const char* end = "\r\n")
      : end_(end) {
    identity_.raw.assign(reply.begin(), reply.end());
    identity_.lineEnd = end;
  }
  void Codes(const std::array<char, 3>& model, const std::array<char, 3>& revision) {
    identity_.modelCode = Chars(model);
    identity_.hardwareRevision = Chars(revision);
  }
  void Add(const char* key, const char* label, std::string value) {
    identity_.lines.push_back({key, value, label + value + end_});
  }
  DriveIdentity Done() { return std::move(identity_); }

 private:
  const char* end_;
  DriveIdentity identity_;
};

}  // namespace

NymIdentity DecodeNymIdentity(std::span<const std::uint8_t> reply) {
  const IdentityArea area = CopyReply(reply);
  NymIdentity identity;
  // Monitors that predate the extended part send only the 14 basic bytes; a
  // reply shorter still leaves the basic fields zero as well.
  if (reply.size() >= NYM_IDENTITY_BASIC_LENGTH) {
    identity.monitorRevision = Little16(area, 0);
    identity.modelCode = Chars3(area, 2);
    identity.hardwareRevision = Chars3(area, 5);
    identity.driveCurrentCapability = Little16(area, 8);
    identity.serialNumber = static_cast<std::int32_t>(Little32(area, 10));
  }
  if (reply.size() >= NYM_FULL_LENGTH) {
    identity.reserved1 = Little16(area, 14);
    identity.personalityBlockSize = static_cast<std::int32_t>(Little32(area, 16));
    std::copy_n(area.begin() + 20, 6, identity.macAddress.begin());
    identity.reserved2 = Little16(area, 26);
    identity.dateCode = Little32(area, 28);
    identity.manufacturingCode = static_cast<std::int32_t>(Little32(area, 32));
    identity.testStationCode = static_cast<std::int32_t>(Little32(area, 36));
  }
  return identity;
}

DriveIdentity DescribeNymIdentity(std::span<const std::uint8_t> reply) {
  const NymIdentity identity = DecodeNymIdentity(reply);
  IdentityLines lines(reply);
  lines.Codes(identity.modelCode, identity.hardwareRevision);
  lines.Add("monitor_revision",
            " Monitor revision:       ", Text("%04X", identity.monitorRevision));
  lines.Add("model_code", " Model code:             ", Chars(identity.modelCode));
  lines.Add("hardware_revision", " Hardware revision:      ", Chars(identity.hardwareRevision));
  // The current rating is shown as its two bytes, high byte before the point.
  lines.Add("current_capability", " Current capability:     ",
            Text("%02X.%02X Amp", identity.driveCurrentCapability >> 8,
                 identity.driveCurrentCapability & 0xFF));
  lines.Add("serial_number", " Serial number           ", Text("%d", identity.serialNumber));
  // Drives without a personality block have nothing more worth showing.
  if (identity.personalityBlockSize == 0) return lines.Done();
  const auto& mac = identity.macAddress;
  lines.Add("reserved_1", " Reserved                ", Text("%04X", identity.reserved1));
  lines.Add("personality_block_size", " Personality block size  ",
            Text("%d", identity.personalityBlockSize));
  lines.Add("mac_address", " MAC address             ",
            Text("%02X%02X%02X %02X%02X%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]));
  lines.Add("reserved_2", " Reserved                ", Text("%04X", identity.reserved2));
  lines.Add("date_code", " Date code               ", Text("%08X", identity.dateCode));
  lines.Add("manufacturing_code", " Manufacturing code      ",
            Text("%d", identity.manufacturingCode));
  lines.Add("test_station_code", " Test station code       ", Text("%d", identity.testStationCode));
  return lines.Done();
}

Series27Identity DecodeSeries27Identity(std::span<const std::uint8_t> reply) {
  const IdentityArea area = CopyReply(reply);
  Series27Identity identity;
  identity.buildNumber = static_cast<std::int16_t>(Little16(area, 0));
  identity.driveCurrentCapability = std::bit_cast<float>(Little32(area, 2));
  identity.busSensorResolution = std::bit_cast<float>(Little32(area, 6));
  identity.currentSensorResolution = std::bit_cast<float>(Little32(area, 10));
  identity.monitorRevision = Little16(area, 14);
  identity.modelCode = Chars3(area, 16);
  identity.hardwareRevision = Chars3(area, 19);
  identity.reserved = Little16(area, 22);
  identity.serialNumber = static_cast<std::int32_t>(Little32(area, 24));
  return identity;
}

DriveIdentity DescribeSeries27Identity(std::span<const std::uint8_t> reply) {
  const Series27Identity identity = DecodeSeries27Identity(reply);
  IdentityLines lines(reply);
  lines.Codes(identity.modelCode, identity.hardwareRevision);
  lines.Add("monitor_revision",
            " Monitor revision:          ", Text("%04X", identity.monitorRevision));
  lines.Add("model_code", " Model code:                ", Chars(identity.modelCode));
  lines.Add("hardware_revision", " Hardware revision:         ", Chars(identity.hardwareRevision));
  lines.Add("current_capability",
            " Current capability:        ", Text("%.2f Amp", identity.driveCurrentCapability));
  lines.Add("serial_number", " Serial number              ", Text("%d", identity.serialNumber));
  lines.Add("build_number", " Build number               ", Text("%d", identity.buildNumber));
  lines.Add("current_sensor_resolution", " Current sensor resolution: ",
            Text("%.2f ADC counts/Amp", identity.currentSensorResolution));
  lines.Add("bus_sensor_resolution", " Bus sensor resolution:     ",
            Text("%.2f ADC counts/V", identity.busSensorResolution));
  return lines.Done();
}

TK720Personality DecodeTK720Personality(std::span<const std::uint8_t> reply) {
  const IdentityArea area = CopyReply(reply);
  TK720Personality personality;
  personality.monitorRevision = static_cast<std::int32_t>(Big32(area, 0));
  personality.buildNumber = static_cast<std::int32_t>(Big32(area, 4));
  // The reals travel as big-endian 32-bit words: reassemble, then reinterpret.
  personality.driveCurrentCapability = std::bit_cast<float>(Big32(area, 8));
  personality.busSensorResolution = std::bit_cast<float>(Big32(area, 12));
  personality.currentSensorResolution = std::bit_cast<float>(Big32(area, 16));
  personality.serialNumber = static_cast<std::int32_t>(Big32(area, 20));
  personality.manufacturingCode = static_cast<std::int32_t>(Big32(area, 24));
  personality.hardwareRevision = Chars3(area, 28);
  personality.modelCode = Chars3(area, 32);
  // The VIN ends at its first zero byte or fills the whole field; the record
  // keeps one more byte so that it always reads as a terminated text.
  const auto vinBegin = area.begin() + 36;
  const auto vinEnd = std::find(vinBegin, vinBegin + VIN_FIELD_LENGTH, 0);
  std::copy(vinBegin, vinEnd, personality.vinNumber.begin());
  std::copy_n(area.begin() + 100, 6, personality.macAddress.begin());
  personality.checksum = Big32(area, 108);
  return personality;
}

DriveIdentity DescribeTK720DigestIdentity(std::span<const std::uint8_t> reply) {
  const TK720Personality p = DecodeTK720Personality(reply);
  // The personality's lines end with a line feed alone.
  IdentityLines lines(reply, "\n");
  lines.Codes(p.modelCode, p.hardwareRevision);
  lines.Add("monitor_revision", "   monitorRevision              ", Text("%d", p.monitorRevision));
  lines.Add("build_number", "   buildNumber                  ", Text("%d", p.buildNumber));
  lines.Add("drive_current_capability", "   driveCurrentCapability       ",
            Text("%.2f Amp", p.driveCurrentCapability));
  lines.Add("bus_sensor_resolution", "   busSensorResolution          ",
            Text("%.2f Counts/V", p.busSensorResolution));
  lines.Add("current_sensor_resolution", "   currentSensorResolution      ",
            Text("%.2f Counts/Amp", p.currentSensorResolution));
  lines.Add("serial_number", "   serialNumber                 ", Text("%d", p.serialNumber));
  lines.Add("manufacturing_code", "   manufacturingCode            ",
            Text("%d", p.manufacturingCode));
  const auto& hw = p.hardwareRevision;
  lines.Add("hardware_revision", "   hardwareRevision             ",
            std::string{hw[0], '.', hw[1], hw[2]});
  lines.Add("model_code", "   modelCode                    ", Chars(p.modelCode));
  lines.Add("vin_number", "   vinNumber                    ", std::string(p.vinNumber.data()));
  const auto& mac = p.macAddress;
  lines.Add("mac_address", "   macAddress                   ",
            Text("%02x %02x %02x %02x %02x %02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]));
  lines.Add("checksum", "   checksum                     ", Text("%04x", p.checksum));
  // A monitor with valid firmware appends the firmware's digest and more to
  // the personality; a bare personality means there is nothing to run.
  lines.Add("",
            reply.size() >= VALID_FIRMWARE_REPLY_LENGTH ? "Device contains valid firmware."
                                                        : "Device doesn't have any valid firmware",
            "");
  return lines.Done();
}

}  // namespace kelvane
