#include "driver/identity_records.h"

#include <gtest/gtest.h>

#include <string>

#include "unit_support.h"

namespace kelvane {
namespace {

using unit::Bytes;
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
    " Monitor revision:       0123\r\n Model code:             NYM\r\n"
    " Hardware revision:      B02\r\n Current capability:     02.50 Amp\r\n"
    " Serial number           123456\r\n";
const std::string NYM_EXTENDED =
    " Reserved                BEEF\r\n Personality block size  512\r\n"
    " MAC address             001A2B 3C4Dab\r\n Reserved                0007\r\n"
    " Date code               20240131\r\n Manufacturing code      -7\r\n"
    " Test station code       42\r\n";
const std::string NUL3(3, '\0');

// The end-to-end runs show each layout for one full reply; here a signed
// field, and short replies, which read as zero where the drive sent nothing.
TEST(IdentityRecords, ShortRepliesAndSignedFields) {
  const std::pair<Bytes, std::string> nym[] = {
      {NYM_REPLY, NYM_BASIC + NYM_EXTENDED},
      {unit::Cat(
           {Sized(NYM_REPLY, 16), Bytes(4, 0), Bytes(NYM_REPLY.begin() + 20, NYM_REPLY.end())}),
       NYM_BASIC},  // no personality block
      {Sized(NYM_REPLY, 39), NYM_BASIC},
      {Sized(NYM_REPLY, 13), " Monitor revision:       0000\r\n Model code:             " + NUL3 +
                                 "\r\n Hardware revision:      " + NUL3 +
                                 "\r\n Current capability:     00.00 Amp\r\n"
                                 " Serial number           0\r\n"},
  };
  for (const auto& [reply, printed] : nym) {
    unit::Output out;
    ShowNymIdentity(reply, out.get());
    EXPECT_EQ(out.text(), printed) << reply.size();
  }
  // A digest drive's reply holds firmware from 152 bytes on.
  for (const auto& [length, printed] : {std::pair{151u, "Device doesn't have any valid firmware\n"},
                                        std::pair{152u, "Device contains valid firmware.\n"}}) {
    unit::Output out;
    PrintFirmwarePresence(length, out.get());
    EXPECT_EQ(out.text(), printed) << length;
  }
}

}  // namespace
}  // namespace kelvane
