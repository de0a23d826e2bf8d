#include "driver/identity_records.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;

// A reply payload laid out field by field, as a drive's monitor sends it.
class Reply {
 public:
  explicit Reply(std::size_t size, std::uint8_t fill = 0) : bytes_(size, fill) {}

  Reply& Little16(std::size_t at, std::uint16_t v) {
    bytes_.at(at) = v & 0xFF;
    bytes_.at(at + 1) = v >> 8;
    return *this;
  }
  Reply& Little32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.at(at + i) = (v >> (8 * i)) & 0xFF;
    return *this;
  }
  Reply& Big32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.at(at + i) = (v >> (8 * (3 - i))) & 0xFF;
    return *this;
  }
  Reply& LittleFloat(std::size_t at, float v) {
    return Little32(at, std::bit_cast<std::uint32_t>(v));
  }
  Reply& BigFloat(std::size_t at, float v) { return Big32(at, std::bit_cast<std::uint32_t>(v)); }
  Reply& Text(std::size_t at, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) bytes_.at(at + i) = text[i];
    return *this;
  }
  Reply& Bytes(std::size_t at, std::vector<std::uint8_t> values) {
    for (std::size_t i = 0; i < values.size(); ++i) bytes_.at(at + i) = values[i];
    return *this;
  }
  Reply& Resize(std::size_t size) {
    bytes_.resize(size, 0xEE);
    return *this;
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// ---- Nym identity --------------------------------------------------------

Reply NymReply(std::int32_t personalityBlockSize) {
  return Reply(40)
      .Little16(0, 0x0123)
      .Text(2, "NYM")
      .Text(5, "B02")
      .Little16(8, 0x0250)
      .Little32(10, 123456)
      .Little16(14, 0xBEEF)
      .Little32(16, static_cast<std::uint32_t>(personalityBlockSize))
      .Bytes(20, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xAB})
      .Little16(26, 0x0007)
      .Little32(28, 0x20240131)
      .Little32(32, static_cast<std::uint32_t>(-7))
      .Little32(36, 42);
}

const std::string kNymBasic =
    " Monitor revision:       0123\r\n"
    " Model code:             NYM\r\n"
    " Hardware revision:      B02\r\n"
    " Current capability:     02.50 Amp\r\n"
    " Serial number           123456\r\n";

const std::string kNymExtended =
    " Reserved                BEEF\r\n"
    " Personality block size  512\r\n"
    " MAC address             001A2B 3C4Dab\r\n"
    " Reserved                0007\r\n"
    " Date code               20240131\r\n"
    " Manufacturing code      -7\r\n"
    " Test station code       42\r\n";

std::string ZeroNymBasic() {
  return std::string(" Monitor revision:       0000\r\n") +
         " Model code:             " + std::string(3, '\0') + "\r\n" +
         " Hardware revision:      " + std::string(3, '\0') + "\r\n" +
         " Current capability:     00.00 Amp\r\n" + " Serial number           0\r\n";
}

struct NymCase {
  const char* name;
  std::vector<std::uint8_t> reply;
  std::string expected;
};

std::vector<std::uint8_t> Prefix(const Reply& reply, std::size_t length) {
  const auto& b = reply.bytes();
  return std::vector<std::uint8_t>(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(length));
}

TEST(NymIdentity, PrintsTheLinesTheReplyLengthAllows) {
  const std::vector<NymCase> cases = {
      {"40 bytes with a personality block", NymReply(512).bytes(), kNymBasic + kNymExtended},
      {"40 bytes without a personality block", NymReply(0).bytes(), kNymBasic},
      {"39 bytes: extended part ignored", Prefix(NymReply(512), 39), kNymBasic},
      {"14 bytes: basic part only", Prefix(NymReply(512), 14), kNymBasic},
      {"longer than 40 bytes reads as 40", Reply(NymReply(512)).Resize(120).bytes(),
       kNymBasic + kNymExtended},
      {"13 bytes read as zero", Prefix(NymReply(512), 13), ZeroNymBasic()},
      {"empty reply reads as zero", {}, ZeroNymBasic()},
      {"negative personality block size still opens the extended lines", NymReply(-1).bytes(),
       kNymBasic + " Reserved                BEEF\r\n"
                   " Personality block size  -1\r\n"
                   " MAC address             001A2B 3C4Dab\r\n"
                   " Reserved                0007\r\n"
                   " Date code               20240131\r\n"
                   " Manufacturing code      -7\r\n"
                   " Test station code       42\r\n"},
      {"current capability high byte first", Reply(NymReply(0)).Little16(8, 0x1A05).bytes(),
       " Monitor revision:       0123\r\n"
       " Model code:             NYM\r\n"
       " Hardware revision:      B02\r\n"
       " Current capability:     1A.05 Amp\r\n"
       " Serial number           123456\r\n"},
      {"negative serial, unprintable model bytes",
       Reply(NymReply(0)).Little32(10, 0xFFFFFFFF).Bytes(2, {0x01, 0xFF, 0x41}).bytes(),
       " Monitor revision:       0123\r\n"
       " Model code:             \x01\xFF"
       "A\r\n"
       " Hardware revision:      B02\r\n"
       " Current capability:     02.50 Amp\r\n"
       " Serial number           -1\r\n"},
  };
  for (const NymCase& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedOutput out;
    PrintNymIdentity(DecodeNymIdentity(c.reply), out.stream());
    EXPECT_EQ(out.text(), c.expected);
  }
}

TEST(NymIdentity, ShortReplyNeverShowsBytesBeyondIt) {
  // Regression: a short reply must not pick up what lies past it in the
  // reply buffer (an earlier, longer reply).
  const Reply full = NymReply(512);
  for (std::size_t length : {0u, 5u, 13u, 14u, 20u, 39u}) {
    SCOPED_TRACE(length);
    const NymIdentity identity = DecodeNymIdentity(std::span(full.bytes()).first(length));
    EXPECT_EQ(identity.personalityBlockSize, 0);
    EXPECT_EQ(identity.dateCode, 0u);
    EXPECT_EQ(identity.testStationCode, 0);
    EXPECT_EQ(identity.macAddress, (std::array<std::uint8_t, 6>{}));
    if (length < 14) {
      EXPECT_EQ(identity.serialNumber, 0);
      EXPECT_EQ(identity.monitorRevision, 0);
    }
  }
}

// ---- 27 series identity ---------------------------------------------------

Reply Series27Reply() {
  return Reply(28)
      .Little16(0, 0x0102)
      .LittleFloat(2, 12.5f)
      .LittleFloat(6, 10.25f)
      .LittleFloat(10, 100.5f)
      .Little16(14, 0x00AF)
      .Text(16, "S27")
      .Text(19, "C01")
      .Little16(22, 0x5555)
      .Little32(24, 987654);
}

std::string Series27Lines(const std::string& build, const std::string& serial,
                          const std::string& hardware) {
  return " Monitor revision:          00AF\r\n"
         " Model code:                S27\r\n"
         " Hardware revision:         " +
         hardware +
         "\r\n"
         " Current capability:        12.50 Amp\r\n"
         " Serial number              " +
         serial +
         "\r\n"
         " Build number               " +
         build +
         "\r\n"
         " Current sensor resolution: 100.50 ADC counts/Amp\r\n"
         " Bus sensor resolution:     10.25 ADC counts/V\r\n";
}

TEST(Series27Identity, PrintsEveryField) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"28 bytes", Series27Reply().bytes(), Series27Lines("258", "987654", "C01")},
      {"build FF FF is -1", Reply(Series27Reply()).Bytes(0, {0xFF, 0xFF}).bytes(),
       Series27Lines("-1", "987654", "C01")},
      {"longer reply: the rest is not read", Reply(Series27Reply()).Resize(200).bytes(),
       Series27Lines("258", "987654", "C01")},
      {"20 bytes: the rest reads as zero", Prefix(Series27Reply(), 20),
       Series27Lines("258", "0", std::string("C") + std::string(2, '\0'))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedOutput out;
    PrintSeries27Identity(DecodeSeries27Identity(c.reply), out.stream());
    EXPECT_EQ(out.text(), c.expected);
  }
}

// ---- TK720 personality ----------------------------------------------------

Reply PersonalityReply(std::size_t length) {
  return Reply(std::max<std::size_t>(length, 112))
      .Big32(0, 261)
      .Big32(4, 77)
      .BigFloat(8, 5.5f)
      .BigFloat(12, 20.0f)
      .BigFloat(16, 40.25f)
      .Big32(20, 1000001)
      .Big32(24, 0xFFFFFFFF)
      .Text(28, "A12")
      .Bytes(31, {0x99})
      .Text(32, "TKX")
      .Bytes(35, {0x99})
      .Text(36, "VIN-0042")
      .Bytes(100, {0x0A, 0x0B, 0x0C, 0xDD, 0xEE, 0xFF})
      .Bytes(106, {0x99, 0x99})
      .Big32(108, 0x0ABC)
      .Resize(length);
}

std::string PersonalityLines(const std::string& vin, const std::string& checksum) {
  return "   monitorRevision              261\n"
         "   buildNumber                  77\n"
         "   driveCurrentCapability       5.50 Amp\n"
         "   busSensorResolution          20.00 Counts/V\n"
         "   currentSensorResolution      40.25 Counts/Amp\n"
         "   serialNumber                 1000001\n"
         "   manufacturingCode            -1\n"
         "   hardwareRevision             A.12\n"
         "   modelCode                    TKX\n"
         "   vinNumber                    " +
         vin +
         "\n"
         "   macAddress                   0a 0b 0c dd ee ff\n"
         "   checksum                     " +
         checksum + "\n";
}

TEST(TK720Personality, PrintsEveryFieldMostSignificantByteFirst) {
  const std::string vin64(64, 'V');
  struct Case {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"112 bytes", PersonalityReply(112).bytes(), PersonalityLines("VIN-0042", "0abc")},
      {"152 bytes with a digest", PersonalityReply(152).bytes(),
       PersonalityLines("VIN-0042", "0abc")},
      {"checksum wider than four digits",
       Reply(PersonalityReply(112)).Big32(108, 0xDEADBEEF).bytes(),
       PersonalityLines("VIN-0042", "deadbeef")},
      {"VIN filling its 64 bytes stops there", Reply(PersonalityReply(112)).Text(36, vin64).bytes(),
       PersonalityLines(vin64, "0abc")},
      {"empty VIN", Reply(PersonalityReply(112)).Bytes(36, {0x00, 'X'}).bytes(),
       PersonalityLines("", "0abc")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedOutput out;
    ShowTK720Personality(c.reply, out.stream());
    EXPECT_EQ(out.text(), c.expected);
  }
}

TEST(TK720Personality, ShortReplyReadsAsZero) {
  // 100 bytes: VIN text present, MAC address and checksum never sent.
  const Reply full = PersonalityReply(112);
  const TK720Personality p = DecodeTK720Personality(std::span(full.bytes()).first(100));
  EXPECT_EQ(p.serialNumber, 1000001);
  EXPECT_STREQ(p.vinNumber.data(), "VIN-0042");
  EXPECT_EQ(p.macAddress, (std::array<std::uint8_t, 6>{}));
  EXPECT_EQ(p.checksum, 0u);
}

TEST(FirmwarePresence, DecidedByReplyLength) {
  struct Case {
    std::uint32_t length;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {0, "Device doesn't have any valid firmware\n"},
      {112, "Device doesn't have any valid firmware\n"},
      {151, "Device doesn't have any valid firmware\n"},
      {152, "Device contains valid firmware.\n"},
      {299, "Device contains valid firmware.\n"},
      {0xFFFFFFFF, "Device contains valid firmware.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    CapturedOutput out;
    PrintFirmwarePresence(c.length, out.stream());
    EXPECT_EQ(out.text(), c.expected);
  }
}

}  // namespace
}  // namespace kelvane
