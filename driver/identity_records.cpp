#include "driver/identity_records.h"

#include <algorithm>
#include <bit>

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

std::array<char, 3> Chars3(const IdentityArea& area, std::size_t at) {
  return {static_cast<char>(area[at]), static_cast<char>(area[at + 1]),
          static_cast<char>(area[at + 2])};
}

// printf's %c takes an int and prints its value as an unsigned char, so every
// byte, printable or not, goes out unchanged.
int Char(char c) {
  return static_cast<unsigned char>(c);
}

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

void PrintNymIdentity(const NymIdentity& identity, std::FILE* out) {
  std::fprintf(out, " Monitor revision:       %04X\r\n",
               static_cast<unsigned>(identity.monitorRevision));
  std::fprintf(out, " Model code:             %c%c%c\r\n", Char(identity.modelCode[0]),
               Char(identity.modelCode[1]), Char(identity.modelCode[2]));
  std::fprintf(out, " Hardware revision:      %c%c%c\r\n", Char(identity.hardwareRevision[0]),
               Char(identity.hardwareRevision[1]), Char(identity.hardwareRevision[2]));
  // The current rating is shown as its two bytes, high byte before the point.
  std::fprintf(out, " Current capability:     %02X.%02X Amp\r\n",
               static_cast<unsigned>(identity.driveCurrentCapability >> 8),
               static_cast<unsigned>(identity.driveCurrentCapability & 0xFF));
  std::fprintf(out, " Serial number           %d\r\n", static_cast<int>(identity.serialNumber));
  // Drives without a personality block have nothing more worth showing.
  if (identity.personalityBlockSize == 0) return;
  const auto& mac = identity.macAddress;
  std::fprintf(out, " Reserved                %04X\r\n", static_cast<unsigned>(identity.reserved1));
  std::fprintf(out, " Personality block size  %d\r\n",
               static_cast<int>(identity.personalityBlockSize));
  std::fprintf(out, " MAC address             %02X%02X%02X %02X%02X%02x\r\n",
               static_cast<unsigned>(mac[0]), static_cast<unsigned>(mac[1]),
               static_cast<unsigned>(mac[2]), static_cast<unsigned>(mac[3]),
               static_cast<unsigned>(mac[4]), static_cast<unsigned>(mac[5]));
  std::fprintf(out, " Reserved                %04X\r\n", static_cast<unsigned>(identity.reserved2));
  std::fprintf(out, " Date code               %08X\r\n", static_cast<unsigned>(identity.dateCode));
  std::fprintf(out, " Manufacturing code      %d\r\n",
               static_cast<int>(identity.manufacturingCode));
  std::fprintf(out, " Test station code       %d\r\n", static_cast<int>(identity.testStationCode));
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

void PrintSeries27Identity(const Series27Identity& identity, std::FILE* out) {
  std::fprintf(out, " Monitor revision:          %04X\r\n",
               static_cast<unsigned>(identity.monitorRevision));
  std::fprintf(out, " Model code:                %c%c%c\r\n", Char(identity.modelCode[0]),
               Char(identity.modelCode[1]), Char(identity.modelCode[2]));
  std::fprintf(out, " Hardware revision:         %c%c%c\r\n", Char(identity.hardwareRevision[0]),
               Char(identity.hardwareRevision[1]), Char(identity.hardwareRevision[2]));
  std::fprintf(out, " Current capability:        %.2f Amp\r\n",
               static_cast<double>(identity.driveCurrentCapability));
  std::fprintf(out, " Serial number              %d\r\n", static_cast<int>(identity.serialNumber));
  std::fprintf(out, " Build number               %d\r\n", static_cast<int>(identity.buildNumber));
  std::fprintf(out, " Current sensor resolution: %.2f ADC counts/Amp\r\n",
               static_cast<double>(identity.currentSensorResolution));
  std::fprintf(out, " Bus sensor resolution:     %.2f ADC counts/V\r\n",
               static_cast<double>(identity.busSensorResolution));
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

void ShowTK720Personality(std::span<const std::uint8_t> reply, std::FILE* out) {
  const TK720Personality p = DecodeTK720Personality(reply);
  std::fprintf(out, "   monitorRevision              %d\n", static_cast<int>(p.monitorRevision));
  std::fprintf(out, "   buildNumber                  %d\n", static_cast<int>(p.buildNumber));
  std::fprintf(out, "   driveCurrentCapability       %.2f Amp\n",
               static_cast<double>(p.driveCurrentCapability));
  std::fprintf(out, "   busSensorResolution          %.2f Counts/V\n",
               static_cast<double>(p.busSensorResolution));
  std::fprintf(out, "   currentSensorResolution      %.2f Counts/Amp\n",
               static_cast<double>(p.currentSensorResolution));
  std::fprintf(out, "   serialNumber                 %d\n", static_cast<int>(p.serialNumber));
  std::fprintf(out, "   manufacturingCode            %d\n", static_cast<int>(p.manufacturingCode));
  std::fprintf(out, "   hardwareRevision             %c.%c%c\n", Char(p.hardwareRevision[0]),
               Char(p.hardwareRevision[1]), Char(p.hardwareRevision[2]));
  std::fprintf(out, "   modelCode                    %c%c%c\n", Char(p.modelCode[0]),
               Char(p.modelCode[1]), Char(p.modelCode[2]));
  std::fprintf(out, "   vinNumber                    %s\n", p.vinNumber.data());
  std::fprintf(out, "   macAddress                   %02x %02x %02x %02x %02x %02x\n",
               static_cast<unsigned>(p.macAddress[0]), static_cast<unsigned>(p.macAddress[1]),
               static_cast<unsigned>(p.macAddress[2]), static_cast<unsigned>(p.macAddress[3]),
               static_cast<unsigned>(p.macAddress[4]), static_cast<unsigned>(p.macAddress[5]));
  std::fprintf(out, "   checksum                     %04x\n", static_cast<unsigned>(p.checksum));
}

void PrintFirmwarePresence(std::uint32_t replyLength, std::FILE* out) {
  // A monitor with valid firmware appends the firmware's digest and more to
  // the personality; a bare personality means there is nothing to run.
  if (replyLength >= VALID_FIRMWARE_REPLY_LENGTH) {
    std::fputs("Device contains valid firmware.\n", out);
  } else {
    std::fputs("Device doesn't have any valid firmware\n", out);
  }
}

void ShowNymIdentity(std::span<const std::uint8_t> reply, std::FILE* out) {
  PrintNymIdentity(DecodeNymIdentity(reply), out);
}

void ShowSeries27Identity(std::span<const std::uint8_t> reply, std::FILE* out) {
  PrintSeries27Identity(DecodeSeries27Identity(reply), out);
}

void ShowTK720DigestIdentity(std::span<const std::uint8_t> reply, std::FILE* out) {
  ShowTK720Personality(reply, out);
  PrintFirmwarePresence(static_cast<std::uint32_t>(reply.size()), out);
}

}  // namespace kelvane
