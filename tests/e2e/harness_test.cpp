// The harness's own renderings of the image formats are the oracle of every
// scenario: pin them to worked examples so a mistake there cannot hide a
// mistake in the loader.

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

TEST(E2eHarness, SRecordLineCarriesItsChecksum) {
  EXPECT_EQ(SRecordLine('9', 2, 0x0005, {}), "S9030005F7\n");
  EXPECT_EQ(SRecordLine('1', 2, 0x0010, {0xAA, 0xBB}), "S1050010AABB85\n");
  EXPECT_EQ(SRecordLine('8', 3, 0, {}), "S804000000FB\n");
  EXPECT_EQ(SRecordLine('2', 3, 0x010000, {1, 2, 3, 4}), "S20801000001020304EC\n");
}

TEST(E2eHarness, WordImagePlacesDataByAddressAndAppendsItsChecksum) {
  const WordImage image =
      WordImageOf("S00600004844521B\n\nS1070000010203FFF3\nS1050010AABB85\r\nS9030005F7\n");
  Bytes expected = {0x01, 0x02, 0x03, 0xFF};
  expected.resize(16, 0xFF);
  expected.insert(expected.end(), {0xAA, 0xBB, 0xA8, 0xBC, 0x07, 0x00});
  EXPECT_EQ(image.bytes, expected);
  EXPECT_EQ(image.checksum, 0x0007BCA8u);
}

TEST(E2eHarness, WordImageLaterRecordWinsAndOddLengthIsPadded) {
  const WordImage image = WordImageOf("S10500000102F7\nS1050001AABB94\nS804000000FB\n");
  EXPECT_EQ(image.bytes, (Bytes{0x01, 0xAA, 0xBB, 0x00, 0xBC, 0xAA, 0x00, 0x00}));
  EXPECT_EQ(image.checksum, 0x0000AABCu);
}

TEST(E2eHarness, RecordStreamCopiesRecordsInFileOrder) {
  const Bytes stream = NymRecordStream(
      "S00600004844521B\nS20801000001020304EC\n\nS30600000000AA4F\nS5030001FB\n"
      "S70500000000FA\nS804000000FB\n");
  EXPECT_EQ(Hex(stream),
            "320801000001020304EC"
            "330600000000AA4F"
            "370500000000FA"
            "3804000000FB"
            "FFFF");
  EXPECT_EQ(stream.size(), 33u);
  EXPECT_EQ(NymRecordStream(""), (Bytes{0xFF, 0xFF}));
}

TEST(E2eHarness, ChecksummedImageSumsToZero) {
  struct Case {
    Bytes file;
    const char* image;
  };
  Bytes counting(16);
  for (int i = 0; i < 16; ++i) counting[i] = static_cast<std::uint8_t>(i);
  const Case cases[] = {
      {Bytes(8, 0x55),
       "F1E2D3C4"
       "00000003"
       "0E1D2C39"},
      {counting,
       "F1E2D3C4"
       "00000005"
       "08090A0B"
       "0C0D0E0F"
       "FA07141D"},
      {Bytes(12, 0),
       "F1E2D3C4"
       "00000004"
       "00000000"
       "0E1D2C38"},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(ChecksummedImageOf(c.file)), c.image);
}

TEST(E2eHarness, DigestStampedImageDigestsLengthFieldAndData) {
  const Bytes image = DigestStampedImageOf(Bytes(30, 0));
  ASSERT_EQ(image.size(), 32u);
  EXPECT_EQ(Hex(Bytes(image.begin() + 16, image.begin() + 24)), "000000000000000C");
  EXPECT_EQ(image[30], 0xFF);
  EXPECT_EQ(image[31], 0xFF);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 16), Md5(Bytes(image.begin() + 20, image.end())));
}

TEST(E2eHarness, Md5MatchesKnownDigests) {
  EXPECT_EQ(Hex(Md5({})), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Hex(Md5({'a', 'b', 'c'})), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(E2eHarness, IdentityRepliesHaveTheirLayoutsLengths) {
  EXPECT_EQ(FromHex(NYM_IDENTITY_HEX).size(), 40u);
  EXPECT_EQ(FromHex(NYM_BASIC_IDENTITY_HEX).size(), 14u);
  EXPECT_EQ(FromHex(NYM_NO_PERSONALITY_HEX).size(), 40u);
  EXPECT_EQ(FromHex(SERIES27_IDENTITY_HEX).size(), 28u);
  EXPECT_EQ(FromHex(TK720_PERSONALITY_HEX).size(), 112u);
}

TEST(E2eHarness, SameOutputShowsTheDifferenceEscaped) {
  EXPECT_TRUE(SameOutput("a\r\nb\r", "a\r\nb\r"));
  const ::testing::AssertionResult differs = SameOutput("a\r\n   1 of 2\r", "a\r\n   1 of 3\r");
  ASSERT_FALSE(differs);
  const std::string message = differs.message();
  EXPECT_NE(message.find("-    1 of 2\\r"), std::string::npos) << message;
  EXPECT_NE(message.find("+    1 of 3\\r"), std::string::npos) << message;
}

TEST(E2eHarness, VerifyLinesCountFromOne) {
  EXPECT_EQ(VerifyPass(SectorPass(3), {{1, 56}}),
            "Verifying firmware:\r\n"
            "   1 of    3 sectors verifyed\r"
            " Sector    2 has   56 errorneous location(s)\r\n"
            "   3 of    3 sectors verifyed\r");
  EXPECT_EQ(WritePass(BlockPassOf(1)),
            "Updating firmware:\r\n   1 of    1 blocks updated\r"
            "\r\nFirmware was successufully updated\r\n");
}

}  // namespace
}  // namespace kelvane::e2e
