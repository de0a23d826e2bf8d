// The simulated drive's pieces: request frames in, reply frames out, and
// the flash and identity models of each family.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "sim/drive_monitor.h"
#include "sim/drive_status.h"
#include "sim/firmware_digest.h"
#include "sim/identity.h"
#include "sim/reply_frame.h"
#include "sim/request_parser.h"
#include "test_support.h"

namespace kelvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

using testing::Concat;
using testing::Pattern;
using testing::RequestFrameBytes;

struct Parsed {
  std::vector<ParseEvent> events;  // every event but None
  std::vector<Request> requests;
};

Parsed FeedAll(const Bytes& line) {
  RequestParser parser;
  Parsed parsed;
  for (std::uint8_t byte : line) {
    const ParseEvent event = parser.Feed(byte);
    if (event == ParseEvent::None) continue;
    parsed.events.push_back(event);
    if (event == ParseEvent::Request) parsed.requests.push_back(parser.request());
  }
  return parsed;
}

// ---- request frames ------------------------------------------------------

struct ParserCase {
  const char* name;
  Bytes line;
  std::vector<ParseEvent> events;
};

TEST(RequestParser, TellsGoodFramesFromBadOnes) {
  using E = ParseEvent;
  const Bytes identify = {0x55, 0xAA, 0x00, 0x00, 0x10, 0x10};
  const Bytes read = {0x55, 0xAA, 0x06, 0x00, 0x12, 0x18, 0, 0, 0, 0, 0, 1, 0x01};
  Bytes badHeader = identify;
  badHeader[5] = 0x11;
  Bytes badSum = read;
  badSum.back() = 0x02;
  // A header whose sum is right but whose length no monitor buffer holds.
  const Bytes huge = {0x55, 0xAA, 0x01, 0x02, 0x11, 0x14};
  const std::vector<ParserCase> cases = {
      {"identify", identify, {E::Request}},
      {"read request", read, {E::Request}},
      {"bad header sum", badHeader, {E::BadHeader}},
      {"bad payload sum", badSum, {E::BadPayloadChecksum}},
      {"length beyond buffer", huge, {E::BadHeader}},
      {"bad header then good frame", Concat({badHeader, identify}), {E::BadHeader, E::Request}},
      {"bad payload then good frame",
       Concat({badSum, identify}),
       {E::BadPayloadChecksum, E::Request}},
      {"noise before frame", Concat({{0x00, 0xAA, 0x55, 0x13}, identify}), {E::Request}},
      {"doubled first preamble byte", Concat({{0x55}, identify}), {E::Request}},
      {"two frames back to back", Concat({read, identify}), {E::Request, E::Request}},
      {"half a frame", Bytes(read.begin(), read.end() - 1), {}},
  };
  for (const ParserCase& c : cases) {
    EXPECT_EQ(FeedAll(c.line).events, c.events) << c.name;
  }
}

TEST(RequestParser, DeliversCommandPayloadAndFrameSize) {
  const Bytes payload = Pattern(260, 0x40);
  const Parsed parsed =
      FeedAll(Concat({RequestFrameBytes(0x11, payload), RequestFrameBytes(0x10, {})}));
  ASSERT_EQ(parsed.requests.size(), 2u);
  EXPECT_EQ(parsed.requests[0].command, 0x11);
  EXPECT_EQ(parsed.requests[0].payload, payload);
  EXPECT_EQ(parsed.requests[0].frameSize, 267u);
  EXPECT_EQ(parsed.requests[1].command, 0x10);
  EXPECT_TRUE(parsed.requests[1].payload.empty());
  EXPECT_EQ(parsed.requests[1].frameSize, 6u);
}

TEST(RequestParser, ResetDropsAPartialFrameLeftByAKilledLoader) {
  RequestParser parser;
  const Bytes write = RequestFrameBytes(0x11, Pattern(260, 1));
  for (std::size_t i = 0; i < 100; ++i) parser.Feed(write[i]);
  EXPECT_TRUE(parser.InFrame());
  parser.Reset();
  ParseEvent last = ParseEvent::None;
  for (std::uint8_t byte : RequestFrameBytes(0x10, {})) last = parser.Feed(byte);
  EXPECT_EQ(last, ParseEvent::Request);
  EXPECT_EQ(parser.request().command, 0x10);
}

// ---- reply frames --------------------------------------------------------

TEST(ReplyFrame, BuildsTheBytesTheLoaderExpects) {
  struct Case {
    const char* name;
    std::uint8_t command, status;
    Bytes payload;
    Bytes frame;
  };
  const std::vector<Case> cases = {
      {"write accepted", 0x11, 0, {}, {0xAA, 0x55, 0, 0, 0x11, 0x00, 0x11}},
      {"error status", 0x11, 5, {}, {0xAA, 0x55, 0, 0, 0x11, 0x05, 0x16}},
      {"payload", 0x12, 0, {0x80, 0x90}, {0xAA, 0x55, 2, 0, 0x12, 0, 0x14, 0x80, 0x90, 0x10}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildReplyFrame(c.command, c.status, c.payload), c.frame) << c.name;
  }
  // Header bytes summing past 255: length 240, read, status 0 gives 0x02.
  const Bytes long240 = BuildReplyFrame(0x12, 0, Bytes(240, 0));
  EXPECT_EQ(long240[6], 0x02);
  // Length 0x0128 travels low byte first.
  const Bytes long296 = BuildReplyFrame(0x10, 0, Bytes(296, 1));
  EXPECT_EQ(long296[2], 0x28);
  EXPECT_EQ(long296[3], 0x01);
  EXPECT_EQ(long296.back(), static_cast<std::uint8_t>(296));
}

TEST(ReplyFrame, FaultyFramesAreWrongWhereTheyClaim) {
  Bytes frame = BuildReplyFrame(0x12, 0, Bytes{1, 2, 3});
  const Bytes good = frame;
  EXPECT_TRUE(CorruptPayloadChecksum(frame));
  EXPECT_EQ(Bytes(frame.begin(), frame.end() - 1), Bytes(good.begin(), good.end() - 1));
  EXPECT_NE(frame.back(), good.back());

  Bytes empty = BuildReplyFrame(0x11, 0, {});
  EXPECT_FALSE(CorruptPayloadChecksum(empty)) << "a reply without payload has no checksum";
  EXPECT_EQ(empty, BuildReplyFrame(0x11, 0, {}));

  for (std::uint16_t length : {0, 1, 256}) {
    const Bytes bad = BuildBadHeaderFrame(0x11, 0, length);
    ASSERT_EQ(bad.size(), 7u);
    const std::uint16_t sent = static_cast<std::uint16_t>(bad[2] | bad[3] << 8);
    EXPECT_NE(sent, 0) << "a zero length would let a lenient receiver skip the check";
    EXPECT_NE(bad[6], static_cast<std::uint8_t>(bad[2] + bad[3] + bad[4] + bad[5]));
  }

  for (std::size_t count : {0u, 1u, 300u, 5000u}) {
    const Bytes noise = NoiseBytes(count);
    EXPECT_EQ(noise.size(), count);
    EXPECT_EQ(std::count(noise.begin(), noise.end(), 0xAA), 0) << count;
  }
}

// ---- flash models, through the monitor -------------------------------

// One block written and read back as each family's loader addresses it.
struct MappingCase {
  SimFamily family;
  Bytes writeAddress;  // the four address bytes as sent
  Bytes readFields;    // address and length as sent in the read request
  std::uint32_t storedAt;
};

TEST(FlashModel, EachFamilyStoresAndReadsBackWhereItsLoaderLooks) {
  const std::vector<MappingCase> cases = {
      {SimFamily::Nym, {0x00, 0x00, 0x01, 0x00}, {0x00, 0x00, 0x21, 0x00, 0x01, 0x00}, 0x2100},
      {SimFamily::Nym, {0x00, 0x03, 0xDF, 0x00}, {0x00, 0x03, 0xFF, 0x00, 0x01, 0x00}, 0x3FF00},
      {SimFamily::TL3xx, {0x80, 0x01, 0x00, 0x00}, {0x80, 0x01, 0x00, 0x00, 0x80, 0x00}, 0x180},
      {SimFamily::Series27,
       {0x00, 0xDF, 0x01, 0x00},
       {0x00, 0xDF, 0x01, 0x00, 0x00, 0x01},
       0x1DF00},
      {SimFamily::TK720,
       {0x00, 0x43, 0x00, 0x00},
       {0x00, 0x43, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00},
       0x4300},
      {SimFamily::TK720Digest,
       {0x00, 0x83, 0x00, 0x00},
       {0x00, 0x83, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00},
       0x8300},
  };
  for (const MappingCase& c : cases) {
    const FamilyLayout& layout = LayoutOf(c.family);
    SCOPED_TRACE(layout.name);
    DriveMonitor monitor(c.family, {}, {});
    const Bytes block = Pattern(layout.blockSize, 0x31);
    const Bytes written =
        monitor.Handle({COMMAND_WRITE_BLOCK, Concat({c.writeAddress, block}), 0}).bytes;
    EXPECT_EQ(written, BuildReplyFrame(COMMAND_WRITE_BLOCK, STATUS_OK, {}));

    const auto flash = monitor.flash().contents();
    ASSERT_EQ(flash.size(), layout.flashSize);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.begin() + c.storedAt));
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF),
              static_cast<long>(layout.flashSize - layout.blockSize) +
                  std::count(block.begin(), block.end(), 0xFF))
        << "nothing but the block changed";

    const Bytes read = monitor.Handle({COMMAND_READ_BLOCK, c.readFields, 0}).bytes;
    EXPECT_EQ(read, BuildReplyFrame(COMMAND_READ_BLOCK, STATUS_OK, block));
  }
}

TEST(FlashModel, RefusesWhatTheMonitorWouldAndStoresNothing) {
  struct Case {
    const char* name;
    SimFamily family;
    std::uint8_t command;
    Bytes payload;
    std::uint8_t status;
  };
  const auto write = [](Bytes address, std::size_t block) {
    return Concat({address, Bytes(block, 0x00)});
  };
  const std::vector<Case> cases = {
      // 0x3E800 + 0x2000 + 256 runs past the Nym's 0x40800 bytes.
      {"nym write past flash", SimFamily::Nym, 0x11, write({0x00, 0x03, 0xE8, 0x00}, 256), 0x21},
      {"misaligned write", SimFamily::Nym, 0x11, write({0x00, 0x00, 0x00, 0x80}, 256), 0x22},
      {"tl3xx with a 256-byte block", SimFamily::TL3xx, 0x11, write({0, 0, 0, 0}, 256), 0x23},
      {"tk720 into its monitor", SimFamily::TK720, 0x11, write({0x00, 0x3F, 0, 0}, 256), 0x21},
      {"digest drive below 0x8000", SimFamily::TK720Digest, 0x11, write({0x00, 0x40, 0, 0}, 256),
       0x21},
      {"27 past flash", SimFamily::Series27, 0x11, write({0x00, 0x00, 0x02, 0x00}, 256), 0x21},
      {"write address near 4 GiB", SimFamily::TL3xx, 0x11, write({0x80, 0xFF, 0xFF, 0xFF}, 128),
       0x21},
      {"read longer than 256", SimFamily::TK720, 0x12, {0, 0x40, 0, 0, 0x01, 0x01, 0, 0}, 0x24},
      {"read past flash", SimFamily::TL3xx, 0x12, {0x00, 0x02, 0x01, 0x00, 0x80, 0x00}, 0x21},
      {"tk720 read with a 16-bit length", SimFamily::TK720, 0x12, {0, 0x40, 0, 0, 0, 1}, 0x23},
      {"nym read with a 32-bit length", SimFamily::Nym, 0x12, {0, 0, 0x20, 0, 0, 0, 1, 0}, 0x23},
      {"unknown command", SimFamily::Nym, 0x13, {}, 0x25},
  };
  for (const Case& c : cases) {
    DriveMonitor monitor(c.family, {}, {});
    const Bytes reply = monitor.Handle({c.command, c.payload, 0}).bytes;
    ASSERT_GE(reply.size(), 7u) << c.name;
    EXPECT_EQ(reply[5], c.status) << c.name;
    if (c.status != STATUS_OK) {
      EXPECT_EQ(reply.size(), 7u) << c.name << ": a refusal carries no payload";
      const auto flash = monitor.flash().contents();
      EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](auto b) { return b == 0xFF; }))
          << c.name;
    }
  }
}

TEST(FlashModel, ReadLengthZeroReadsOneBlock) {
  // The 27 series loader may read its checksum sector back with length 0.
  DriveMonitor monitor(SimFamily::Series27, {}, {});
  const Bytes reply = monitor.Handle({COMMAND_READ_BLOCK, {0x00, 0xDF, 0x01, 0x00, 0, 0}, 0}).bytes;
  EXPECT_EQ(reply, BuildReplyFrame(COMMAND_READ_BLOCK, STATUS_OK, Bytes(256, 0xFF)));
}

TEST(FlashModel, StuckCellKeepsItsValueThroughWritesAndLoads) {
  FlashModel flash(LayoutOf(SimFamily::TL3xx));
  ASSERT_TRUE(flash.AddStuckCell(0x85, 0x5A));
  EXPECT_FALSE(flash.AddStuckCell(0x10200, 0x00));
  EXPECT_EQ(flash.ProgramBlock(0x80, Bytes(128, 0x00)), STATUS_OK);
  EXPECT_EQ(flash.contents()[0x84], 0x00);
  EXPECT_EQ(flash.contents()[0x85], 0x5A);
  ASSERT_TRUE(flash.Load(Bytes(0x100, 0x11)));
  EXPECT_EQ(flash.contents()[0x85], 0x5A);
  EXPECT_EQ(flash.contents()[0x100], 0xFF) << "a short load leaves the rest erased";
  EXPECT_FALSE(flash.Load(Bytes(0x10201, 0)));
}

// ---- identity ------------------------------------------------------------

TEST(SimIdentity, EachFamilyAnswersInItsOwnLayout) {
  struct Case {
    SimFamily family;
    std::size_t length;
  };
  for (const Case c :
       {Case{SimFamily::Nym, 40}, Case{SimFamily::TL3xx, 40}, Case{SimFamily::TK720, 40},
        Case{SimFamily::Series27, 28}, Case{SimFamily::TK720Digest, 112}}) {
    DriveMonitor monitor(c.family, {DefaultIdentityFields(c.family), {}, {}}, {});
    const Bytes reply = monitor.Handle({COMMAND_IDENTIFY, {}, 6}).bytes;
    ASSERT_GE(reply.size(), 7u);
    EXPECT_EQ(reply[5], STATUS_OK) << LayoutOf(c.family).name;
    EXPECT_EQ(reply[2] | reply[3] << 8, static_cast<int>(c.length)) << LayoutOf(c.family).name;
  }
}

TEST(SimIdentity, FieldsSitAtTheirOffsetsInTheirByteOrder) {
  IdentityFields f;
  f.monitorRevision = 0x0412;
  f.modelCode = {'7', '7', '0'};
  f.hardwareRevision = {'C', '0', '3'};
  f.nymCurrentCapability = 0x0250;
  f.serialNumber = -2;
  f.personalityBlockSize = 0x01020304;
  f.macAddress = {1, 2, 3, 4, 5, 6};
  f.dateCode = 0xA1B2C3D4;
  f.driveCurrentCapability = 2.5F;
  f.buildNumber = -1;

  const Bytes nym = EncodeNymIdentity(f);
  ASSERT_EQ(nym.size(), 40u);
  EXPECT_EQ(Bytes(nym.begin(), nym.begin() + 14),
            (Bytes{0x12, 0x04, '7', '7', '0', 'C', '0', '3', 0x50, 0x02, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(nym.begin() + 16, nym.begin() + 26), (Bytes{4, 3, 2, 1, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Bytes(nym.begin() + 28, nym.begin() + 32), (Bytes{0xD4, 0xC3, 0xB2, 0xA1}));

  const Bytes s27 = EncodeSeries27Identity(f);
  ASSERT_EQ(s27.size(), 28u);
  EXPECT_EQ(s27[0], 0xFF);
  EXPECT_EQ(s27[1], 0xFF);
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(2.5F);  // 0x40200000
  EXPECT_EQ(Bytes(s27.begin() + 2, s27.begin() + 6),
            (Bytes{static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                   static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)}));
  EXPECT_EQ(Bytes(s27.begin() + 14, s27.begin() + 22),
            (Bytes{0x12, 0x04, '7', '7', '0', 'C', '0', '3'}));
  EXPECT_EQ(Bytes(s27.begin() + 24, s27.end()), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));

  f.vinNumber = std::string(64, 'V');
  const Bytes tk = EncodeTK720Personality(f);
  ASSERT_EQ(tk.size(), 112u);
  EXPECT_EQ(Bytes(tk.begin(), tk.begin() + 4), (Bytes{0, 0, 0x04, 0x12}));
  EXPECT_EQ(Bytes(tk.begin() + 8, tk.begin() + 12), (Bytes{0x40, 0x20, 0x00, 0x00}));
  EXPECT_EQ(Bytes(tk.begin() + 28, tk.begin() + 36), (Bytes{'C', '0', '3', 0, '7', '7', '0', 0}));
  EXPECT_EQ(std::count(tk.begin() + 36, tk.begin() + 100, 'V'), 64);
  EXPECT_EQ(Bytes(tk.begin() + 100, tk.begin() + 106), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(SimIdentity, VerbatimAndLengthOverridesApplyLast) {
  FlashModel flash(LayoutOf(SimFamily::Nym));
  IdentityConfig config{DefaultIdentityFields(SimFamily::Nym), {}, {}};
  config.length = 14;
  EXPECT_EQ(IdentityReply(config, SimFamily::Nym, flash).size(), 14u);
  config.length = 45;
  const Bytes extended = IdentityReply(config, SimFamily::Nym, flash);
  ASSERT_EQ(extended.size(), 45u);
  EXPECT_EQ(Bytes(extended.begin() + 40, extended.end()), Bytes(5, 0));
  config.verbatim = Bytes{1, 2, 3};
  config.length.reset();
  EXPECT_EQ(IdentityReply(config, SimFamily::Nym, flash), (Bytes{1, 2, 3}));
  config.length = 5;
  EXPECT_EQ(IdentityReply(config, SimFamily::Nym, flash), (Bytes{1, 2, 3, 0, 0}));
}

// ---- the digest drive's firmware check ------------------------------------

// A firmware image as the loader stamps it, digested with an independent MD5.
Bytes StampedImage(std::size_t length) {
  Bytes image = Pattern(length, 0x77);
  const std::uint32_t field = static_cast<std::uint32_t>(length - 20);
  image[16] = 0x10;  // time stamp, not digested
  image[20] = static_cast<std::uint8_t>(field >> 24);
  image[21] = static_cast<std::uint8_t>(field >> 16);
  image[22] = static_cast<std::uint8_t>(field >> 8);
  image[23] = static_cast<std::uint8_t>(field);
  unsigned int digestLength = 0;
  EXPECT_EQ(EVP_Digest(image.data() + 20, field, image.data(), &digestLength, EVP_md5(), nullptr),
            1);
  return image;
}

Bytes DigestDriveReply(const Bytes& image) {
  DriveMonitor monitor(SimFamily::TK720Digest,
                       {DefaultIdentityFields(SimFamily::TK720Digest), {}, {}}, {});
  Bytes flash(DIGEST_IMAGE_ADDRESS, 0xFF);
  flash.insert(flash.end(), image.begin(), image.end());
  EXPECT_TRUE(monitor.flash().Load(flash));
  const Bytes frame = monitor.Handle({COMMAND_IDENTIFY, {}, 6}).bytes;
  const std::size_t length = frame[2] | frame[3] << 8;
  return Bytes(frame.begin() + 7, frame.begin() + 7 + static_cast<std::ptrdiff_t>(length));
}

TEST(FirmwareDigest, ValidImageReportsItsDigest) {
  for (std::size_t length : {24u, 1000u, 4096u, 65536u + 24u}) {
    const Bytes image = StampedImage(length);
    const Bytes reply = DigestDriveReply(image);
    ASSERT_EQ(reply.size(), DIGEST_REPLY_LENGTH) << length;
    EXPECT_EQ(Bytes(reply.begin() + 112, reply.begin() + 128),
              Bytes(image.begin(), image.begin() + 16));
    EXPECT_EQ(Bytes(reply.begin() + 128, reply.end()), Bytes(24, 0));
  }
}

TEST(FirmwareDigest, AnyDamageOutsideTheTimeStampMeansNoFirmware) {
  struct Case {
    const char* name;
    std::size_t offset;
    std::size_t replyLength;
  };
  const std::vector<Case> cases = {
      {"stored digest", 3, PERSONALITY_LENGTH},
      {"time stamp is not digested", 17, DIGEST_REPLY_LENGTH},
      {"length field", 23, PERSONALITY_LENGTH},
      {"first data byte", 24, PERSONALITY_LENGTH},
      {"last data byte", 999, PERSONALITY_LENGTH},
  };
  for (const Case& c : cases) {
    Bytes image = StampedImage(1000);
    image[c.offset] ^= 0x01;
    EXPECT_EQ(DigestDriveReply(image).size(), c.replyLength) << c.name;
  }
}

TEST(FirmwareDigest, InsaneLengthFieldsAreRejected) {
  EXPECT_EQ(DigestDriveReply({}).size(), PERSONALITY_LENGTH) << "erased flash";
  for (std::uint32_t field : {0u, 3u, 0x200000u, 0xFFFFFFFFu}) {
    Bytes image = StampedImage(64);
    image[20] = static_cast<std::uint8_t>(field >> 24);
    image[21] = static_cast<std::uint8_t>(field >> 16);
    image[22] = static_cast<std::uint8_t>(field >> 8);
    image[23] = static_cast<std::uint8_t>(field);
    EXPECT_EQ(DigestDriveReply(image).size(), PERSONALITY_LENGTH) << field;
  }
}

TEST(FirmwareDigest, FreshlyWrittenBlocksAreCheckedOnTheNextIdentify) {
  DriveMonitor monitor(SimFamily::TK720Digest,
                       {DefaultIdentityFields(SimFamily::TK720Digest), {}, {}}, {});
  Bytes image = StampedImage(1000);
  image.resize(1024, 0xFF);
  for (std::uint32_t k = 0; k < 4; ++k) {
    const std::uint32_t address = DIGEST_IMAGE_ADDRESS + k * 256;
    Bytes payload = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                     static_cast<std::uint8_t>(address >> 16), 0};
    payload.insert(payload.end(), image.begin() + k * 256, image.begin() + (k + 1) * 256);
    EXPECT_EQ(monitor.Handle({COMMAND_WRITE_BLOCK, payload, 0}).bytes[5], STATUS_OK);
  }
  const Bytes frame = monitor.Handle({COMMAND_IDENTIFY, {}, 6}).bytes;
  EXPECT_EQ(frame[2] | frame[3] << 8, 152);
}

}  // namespace
}  // namespace kelvane::sim
