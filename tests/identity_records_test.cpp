#include "driver/identity_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit_support.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using unit::Cat;
using unit::Hex;

// The reply cut to, or zero-filled up to, `size` bytes.
Bytes Sized(Bytes reply, std::size_t size) {
  reply.resize(size, 0);
  return reply;
}

// Nym layout, least significant byte first: revision 0123, NYM, B02, current
// 0250, serial 123456; reserved BEEF, personality block size 512, MAC,
// reserved 0007, date code 20240131, manufacturing code -7, test station 42.
const Bytes NYM_REPLY =
    Hex("23 01 4E 59 4D 42 30 32 50 02 40 E2 01 00 EF BE 00 02 00 00 "
        "00 1A 2B 3C 4D AB 07 00 31 01 24 20 F9 FF FF FF 2A 00 00 00");

const std::string NYM_BASIC =
    " Monitor revision:       0123\r\n"
    " Model code:             NYM\r\n"
    " Hardware revision:      B02\r\n"
    " Current capability:     02.50 Amp\r\n"
    " Serial number           123456\r\n";
const std::string NYM_EXTENDED =
    " Reserved                BEEF\r\n"
    " Personality block size  512\r\n"
    " MAC address             001A2B 3C4Dab\r\n"
    " Reserved                0007\r\n"
    " Date code               20240131\r\n"
    " Manufacturing code      -7\r\n"
    " Test station code       42\r\n";
const std::string NYM_ZERO = std::string(" Monitor revision:       0000\r\n") +
                             " Model code:             " + std::string(3, '\0') + "\r\n" +
                             " Hardware revision:      " + std::string(3, '\0') + "\r\n" +
                             " Current capability:     00.00 Amp\r\n Serial number           0\r\n";

// TK720 personality, most significant byte first, the VIN "VIN-0042" at 36,
// the MAC address at 100, the checksum at 108.
const Bytes PERSONALITY =
    Sized(Hex("00 00 01 05 00 00 00 4D 40 B0 00 00 41 A0 00 00 42 21 00 00 "
              "00 0F 42 41 FF FF FF FF 41 31 32 99 54 4B 58 99 56 49 4E 2D 30 30 34 32"),
          100);
Bytes PersonalityReply(std::size_t size) {
  Bytes reply = PERSONALITY;
  const Bytes tail = Hex("0A 0B 0C DD EE FF 99 99 DE AD BE EF");
  reply.insert(reply.end(), tail.begin(), tail.end());
  return Sized(reply, size);
}
const std::string PERSONALITY_LINES =
    "   monitorRevision              261\n"
    "   buildNumber                  77\n"
    "   driveCurrentCapability       5.50 Amp\n"
    "   busSensorResolution          20.00 Counts/V\n"
    "   currentSensorResolution      40.25 Counts/Amp\n"
    "   serialNumber                 1000001\n"
    "   manufacturingCode            -1\n"
    "   hardwareRevision             A.12\n"
    "   modelCode                    TKX\n"
    "   vinNumber                    VIN-0042\n"
    "   macAddress                   0a 0b 0c dd ee ff\n"
    "   checksum                     deadbeef\n";

// The Nym and digest layouts with negative fields and short replies (the
// end-to-end runs show each layout for one full reply). A reply shorter than
// a layout reads as zero where the drive sent nothing.
TEST(IdentityRecords, ShortRepliesAndSignedFields) {
  struct Case {
    const char* name;
    void (*show)(std::span<const std::uint8_t>, std::FILE*);
    Bytes reply;
    std::string printed;
  };
  const std::string NO_FIRMWARE = "Device doesn't have any valid firmware\n";
  const std::string FIRMWARE = "Device contains valid firmware.\n";
  const Case cases[] = {
      {"Nym, 40 bytes", ShowNymIdentity, NYM_REPLY, NYM_BASIC + NYM_EXTENDED},
      {"Nym, no personality block", ShowNymIdentity,
       Cat({Sized(NYM_REPLY, 16), Bytes(4, 0), Bytes(NYM_REPLY.begin() + 20, NYM_REPLY.end())}),
       NYM_BASIC},
      {"Nym, 39 bytes", ShowNymIdentity, Sized(NYM_REPLY, 39), NYM_BASIC},
      {"Nym, 13 bytes", ShowNymIdentity, Sized(NYM_REPLY, 13), NYM_ZERO},
      {"digest drive without firmware", ShowTK720DigestIdentity, PersonalityReply(112),
       PERSONALITY_LINES + NO_FIRMWARE},
      {"digest drive, 151 bytes", ShowTK720DigestIdentity, PersonalityReply(151),
       PERSONALITY_LINES + NO_FIRMWARE},
      {"digest drive with firmware", ShowTK720DigestIdentity, PersonalityReply(152),
       PERSONALITY_LINES + FIRMWARE},
  };
  for (const Case& c : cases) {
    unit::Output out;
    c.show(c.reply, out.get());
    EXPECT_EQ(out.text(), c.printed) << c.name;
  }
}

}  // namespace
}  // namespace kelvane
