// The TK720 with digest (/s) end to end: the image carries the MD5 of its
// length field and data, is written from flash address 0x8000, and is
// verified by the digest that the drive reports in a fresh identity reply.
// The drive (drive-sim) computes that digest from its own flash, so a good
// verdict means the drive really holds what the file holds.

#include <ctime>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// Table rows are shown by their names (see harness.h).
using e2e::PrintTo;

const char* const SAMPLE = "tk720_digest_sample.bin";
const char* const MISMATCH = "\nFirmware in the TK720 drive does not much the file %s\r\n";
const char* const DIGEST_VERIFIED = "\nFirmware was successufully verifyed\r\n";
const char* const NO_FIRMWARE = "Device doesn't have any valid firmware\n";
const char* const VALID_FIRMWARE = "Device contains valid firmware.\n";
constexpr std::size_t IMAGE_ADDRESS = 0x8000;
constexpr std::size_t TIME_STAMP = 16;

struct Image {
  Bytes bytes;  // time stamp left 0
  Bytes digest;
  int blocks = 0;
};

Image ImageOf(const Bytes& file) {
  Image image;
  image.bytes = DigestStampedImageOf(file);
  image.digest.assign(image.bytes.begin(), image.bytes.begin() + 16);
  image.blocks = static_cast<int>((image.bytes.size() + 255) / 256);
  return image;
}

std::string ImageLines(const Image& image) {
  return Format("Image size : %zu\n", image.bytes.size() - 20) + "File MD5 : " + Hex(image.digest) +
         "\n\n";
}

std::string UnitLine(const Bytes& digest) {
  return "Unit MD5 : " + Hex(digest) + "\n";
}

std::string Head(const DriveSim& sim, const char* presence) {
  return Prologue(sim, std::string(TK720_PERSONALITY_LINES) + presence);
}

// A flash holding `image` at 0x8000 with the time stamp `stamp`.
Bytes FlashHolding(const Image& image, std::uint32_t stamp) {
  Bytes flash = Erased(TK720_FLASH_SIZE);
  Bytes bytes = image.bytes;
  for (int i = 0; i < 4; ++i) bytes[TIME_STAMP + i] = std::uint8_t(stamp >> (8 * i));
  Place(flash, IMAGE_ADDRESS, bytes);
  return flash;
}

TEST(Tk720DigestE2e, ProgramsTheSampleAndTheDriveReportsItsDigest) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  ASSERT_EQ(image.bytes.size(), 3000u);
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments());
  ASSERT_TRUE(sim.Started());

  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  LoaderResult run = RunLoader(dir, &sim, {"/s", SAMPLE});
  const auto after = static_cast<std::uint32_t>(std::time(nullptr));

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim, NO_FIRMWARE) + ImageLines(image) +
                        WritePass(BlockPassOf(image.blocks)) + "Verifying firmware:\r\n" +
                        UnitLine(image.digest) + DIGEST_VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  ASSERT_EQ(flash.size(), TK720_FLASH_SIZE);
  // The time stamp changes from run to run: it must be this run's, least
  // significant byte first; everything else is fixed by the file.
  std::uint32_t stamp = 0;
  for (int i = 3; i >= 0; --i) stamp = stamp * 256 + flash[IMAGE_ADDRESS + TIME_STAMP + i];
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_TRUE(SameFlash(FlashHolding(image, stamp), flash));
}

TEST(Tk720DigestE2e, VerifyOnlyAgainstADriveHoldingTheFirmware) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  // Loaded a while ago: another time stamp, the same digest.
  const Bytes holding = FlashHolding(image, 1700000000);
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/v", "/S", SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim, VALID_FIRMWARE) + ImageLines(image) + "Verifying firmware:\r\n" +
                        UnitLine(image.digest) + DIGEST_VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(holding, flash));
}

TEST(Tk720DigestE2e, VerifyOnlyAgainstADriveWithoutFirmware) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/s", "/v", SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim, NO_FIRMWARE) + ImageLines(image) + "Verifying firmware:\r\n" +
                        "Unit doesn't have any valid firmware\n" + Format(MISMATCH, SAMPLE)));
}

TEST(Tk720DigestE2e, CorruptedStoredDigestLeavesTheDriveWithoutValidFirmware) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  // The last digest byte will not program: the drive's own check fails.
  DriveSim sim(dir, "tk720-digest",
               DigestDriveArguments(
                   {"--stuck", Format("0x%zX:%u", IMAGE_ADDRESS + 15, image.digest[15] ^ 0x01u)}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/s", SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim, NO_FIRMWARE) + ImageLines(image) +
                        WritePass(BlockPassOf(image.blocks)) + "Verifying firmware:\r\n" +
                        "Unit doesn't have any valid firmware\n" + Format(MISMATCH, SAMPLE)));
}

// Identity replies given verbatim: the personality, then what stands from
// byte 112 on decides the presence line and the digest comparison.
struct Reply {
  const char* name;
  int length;          // total reply length
  int flipLastDigest;  // XOR for digest byte 15 in the reply
};

class Tk720DigestReply : public ::testing::TestWithParam<Reply> {};

TEST_P(Tk720DigestReply, DecidesTheVerdict) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  const Reply& r = GetParam();
  Bytes reply = FromHex(TK720_PERSONALITY_HEX);
  ASSERT_EQ(reply.size(), 112u);
  Bytes unit = image.digest;
  unit[15] ^= static_cast<std::uint8_t>(r.flipLastDigest);
  reply.insert(reply.end(), unit.begin(), unit.end());
  reply.resize(static_cast<std::size_t>(r.length), 0);
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720-digest", {"--identity-hex", Hex(reply)});
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/s", "/v", SAMPLE});

  std::string expected = r.length >= 152 ? Head(sim, VALID_FIRMWARE) : Head(sim, NO_FIRMWARE);
  expected += ImageLines(image) + "Verifying firmware:\r\n";
  if (r.length < 152) {
    expected += "Unit doesn't have any valid firmware\n" + Format(MISMATCH, SAMPLE);
  } else if (r.flipLastDigest != 0) {
    expected += UnitLine(unit) + Format(MISMATCH, SAMPLE);
  } else {
    expected += UnitLine(unit) + DIGEST_VERIFIED;
  }
  EXPECT_TRUE(RanAs(run, 0, expected));
}

INSTANTIATE_TEST_SUITE_P(Replies, Tk720DigestReply,
                         ::testing::Values(Reply{"ShortByOne", 151, 0},
                                           Reply{"ShortestWithDigest", 152, 0},
                                           Reply{"DigestDiffersInItsLastByte", 152, 0x80},
                                           Reply{"LongerReply", 200, 0}));

TEST(Tk720DigestE2e, WriteFailureNamesTheBlock) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments({"--write-status", "5:9"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/s", SAMPLE});

  EXPECT_TRUE(RanAs(run, 1,
                    Head(sim, NO_FIRMWARE) + ImageLines(image) +
                        WriteProgress(BlockPassOf(image.blocks), 4) +
                        "FLASH update failed on block 4\r\n"));
}

TEST(Tk720DigestE2e, IdentifyFailureDuringVerification) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments({"--identify-status", "2:7"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/s", SAMPLE});

  EXPECT_TRUE(RanAs(run, 1,
                    Head(sim, NO_FIRMWARE) + ImageLines(image) +
                        WritePass(BlockPassOf(image.blocks)) + "Verifying firmware:\r\n" +
                        "Communication failure 7 during verification\n"));
}

// Files refused before anything is sent.
struct RefusedFile {
  const char* name;
  std::vector<std::string> arguments;
  Bytes contents;  // written as fw.bin
  std::string message;
};

class Tk720DigestRefusedFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(Tk720DigestRefusedFile, EndsTheRunAndWritesNothing) {
  TempDir dir;
  dir.Write("fw.bin", GetParam().contents);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, GetParam().arguments);

  EXPECT_TRUE(RanAs(run, 1, Head(sim, NO_FIRMWARE) + GetParam().message));
  EXPECT_EQ(Lines(sim.Log()).size(), 1u) << "only the identify request:\n" << sim.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Files, Tk720DigestRefusedFile,
    ::testing::Values(
        RefusedFile{"Empty", {"/s", "fw.bin"}, {}, "File is empty. Nothing to load.\r\n"},
        RefusedFile{"Missing", {"/s", "none.bin"}, {}, "Can't open file none.bin\r\n"},
        RefusedFile{"NoFileWithClearOption", {"/s", "/p"}, {}, "Can't open file (null)\r\n"},
        RefusedFile{"ShorterThanTheHeader",
                    {"/s", "fw.bin"},
                    Bytes(23, 0),
                    "File is too short for the image header. Nothing to load.\r\n"}));

// The digest covers the pad bytes of a file whose length is not a multiple
// of 4, and lengths around the MD5 block size.
class Tk720DigestFileLength : public ::testing::TestWithParam<int> {};

TEST_P(Tk720DigestFileLength, DriveAgreesWithTheFileDigest) {
  const Bytes file = Pattern(static_cast<std::size_t>(GetParam()), 21);
  const Image image = ImageOf(file);
  TempDir dir;
  dir.Write("fw.bin", file);
  DriveSim sim(dir, "tk720-digest", DigestDriveArguments());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"fw.bin", "/s"});

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim, NO_FIRMWARE) + ImageLines(image) +
                        WritePass(BlockPassOf(image.blocks)) + "Verifying firmware:\r\n" +
                        UnitLine(image.digest) + DIGEST_VERIFIED));
}

INSTANTIATE_TEST_SUITE_P(Lengths, Tk720DigestFileLength,
                         ::testing::Values(24, 30, 32, 83, 84, 141, 256, 1000));

}  // namespace
}  // namespace kelvane::e2e
