// The TK720 family (/m) end to end: a binary image with its header and check
// word, in 256-byte blocks from flash address 0x4000, read back and compared.

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// Table rows are shown by their names (see harness.h).
using e2e::PrintTo;

const char* const SAMPLE = "tk720_sample.bin";
const char* const MISMATCH = "\r\nFirmware in the TK720 drive does not much the file %s\r\n";
constexpr std::size_t IMAGE_ADDRESS = 0x4000;

struct Image {
  Bytes bytes;  // the image and its 0xFF fill up to the last block
  int blocks = 0;
};

Image ImageOf(const Bytes& file) {
  Image image;
  image.bytes = ChecksummedImageOf(file);
  image.blocks = static_cast<int>((image.bytes.size() + 255) / 256);
  image.bytes.resize(static_cast<std::size_t>(image.blocks) * 256, 0xFF);
  return image;
}

Bytes FlashHolding(const Bytes& bytes, Bytes flash = Erased(TK720_FLASH_SIZE)) {
  Place(flash, IMAGE_ADDRESS, bytes);
  return flash;
}

std::vector<std::string> Tk720Drive(std::vector<std::string> faults = {}) {
  std::vector<std::string> arguments = {"--identity-hex", NYM_NO_PERSONALITY_HEX};
  arguments.insert(arguments.end(), faults.begin(), faults.end());
  return arguments;
}

std::string Head(const DriveSim& sim) {
  return Prologue(sim, NYM_NO_PERSONALITY_LINES);
}

TEST(Tk720E2e, ProgramsTheSampleAndVerifiesIt) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  ASSERT_EQ(image.blocks, 12);
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720", Tk720Drive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/m", SAMPLE});

  const BlockPass pass = BlockPassOf(image.blocks);
  EXPECT_TRUE(RanAs(run, 0, Head(sim) + WritePass(pass) + VerifyPass(pass) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(image.bytes), flash));
  // Reads carry a 32-bit length; drive-sim logs what it decoded.
  EXPECT_NE(sim.Log().find("READ 0x00004B00 256"), std::string::npos) << sim.Log();
}

// Files whose length is not a multiple of 4 are padded with 0xFF, covered by
// the check word; 252 bytes make exactly one block, 253 two.
class Tk720FileLength : public ::testing::TestWithParam<int> {};

TEST_P(Tk720FileLength, LoadsTheWholeFile) {
  Bytes file = Pattern(static_cast<std::size_t>(GetParam()), 11);
  const Image image = ImageOf(file);
  TempDir dir;
  dir.Write("fw.bin", file);
  const Bytes before = Pattern(TK720_FLASH_SIZE, 12);
  dir.Write("flash.in", before);
  DriveSim sim(dir, "tk720", Tk720Drive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"fw.bin", "/M"});

  const BlockPass pass = BlockPassOf(image.blocks);
  EXPECT_TRUE(RanAs(run, 0, Head(sim) + WritePass(pass) + VerifyPass(pass) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(image.bytes, before), flash));
}

INSTANTIATE_TEST_SUITE_P(Lengths, Tk720FileLength, ::testing::Values(8, 9, 252, 253, 1000, 1001));

TEST(Tk720E2e, VerifyOnlyAcceptsAMatchingDrive) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  const Bytes holding = FlashHolding(image.bytes);
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "tk720", Tk720Drive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/m", "/v", SAMPLE});

  EXPECT_TRUE(RanAs(run, 0, Head(sim) + VerifyPass(BlockPassOf(image.blocks)) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(holding, flash));
}

TEST(Tk720E2e, VerifyOnlyReportsDifferingBlocks) {
  const Image image = ImageOf(ExampleBytes(SAMPLE));
  TempDir dir;
  dir.CopyExample(SAMPLE);
  Bytes holding = FlashHolding(image.bytes);
  // The header's magic (block 1) and the check word (block 12).
  holding[IMAGE_ADDRESS + 0] = 0x00;
  holding[IMAGE_ADDRESS + 1] = 0x00;
  holding[IMAGE_ADDRESS + 3004 - 1] ^= 0x01;
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "tk720", Tk720Drive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/m", "/v", SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + VerifyPass(BlockPassOf(image.blocks), {{0, 2}, {11, 1}}) +
                        Format(MISMATCH, SAMPLE)));
}

TEST(Tk720E2e, WriteFailureOnTheFirstBlock) {
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720", Tk720Drive({"--write-status", "1:4"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/m", SAMPLE});

  EXPECT_TRUE(
      RanAs(run, 1,
            Head(sim) + WriteProgress(BlockPassOf(12), 0) + "FLASH update failed on block 0\r\n"));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(Erased(TK720_FLASH_SIZE), flash));
}

TEST(Tk720E2e, ReadFailureOnTheLastBlock) {
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720", Tk720Drive({"--read-status", "12:3"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/m", SAMPLE});

  const BlockPass pass = BlockPassOf(12);
  EXPECT_TRUE(RanAs(run, 1,
                    Head(sim) + WritePass(pass) + VerifyProgress(pass, 11) +
                        "FLASH verification failed on block 11 because of communication error "
                        "3\r\n"));
}

TEST(Tk720E2e, ShortReadBackCountsTheMissingBytes) {
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tk720", Tk720Drive({"--short-read", "5:255"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/m", SAMPLE});

  const BlockPass pass = BlockPassOf(12);
  EXPECT_TRUE(RanAs(
      run, 0, Head(sim) + WritePass(pass) + VerifyPass(pass, {{4, 1}}) + Format(MISMATCH, SAMPLE)));
}

// Files refused before anything is sent.
struct RefusedFile {
  const char* name;
  std::vector<std::string> arguments;
  Bytes contents;  // written as fw.bin
  std::string message;
};

class Tk720RefusedFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(Tk720RefusedFile, EndsTheRunAndWritesNothing) {
  TempDir dir;
  dir.Write("fw.bin", GetParam().contents);
  DriveSim sim(dir, "tk720", Tk720Drive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, GetParam().arguments);

  EXPECT_TRUE(RanAs(run, 1, Head(sim) + GetParam().message));
  EXPECT_EQ(Lines(sim.Log()).size(), 1u) << "only the identify request:\n" << sim.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Files, Tk720RefusedFile,
    ::testing::Values(
        RefusedFile{"Empty", {"/m", "fw.bin"}, {}, "File is empty. Nothing to load.\r\n"},
        RefusedFile{"Missing", {"/m", "none.bin"}, {}, "Can't open file none.bin\r\n"},
        RefusedFile{"NoFileWithClearOption", {"/m", "/d"}, {}, "Can't open file (null)\r\n"},
        RefusedFile{"ShorterThanTheHeader",
                    {"/m", "fw.bin"},
                    {1, 2, 3, 4, 5, 6, 7},
                    "File is too short for the image header. Nothing to load.\r\n"}));

}  // namespace
}  // namespace kelvane::e2e
