// The TL3xx family (/a) end to end: a word image from S1/S2 records written
// and read back in 128-byte sectors at their own addresses.

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// Table rows are shown by their names (see harness.h).
using e2e::PrintTo;

const char* const SAMPLE = "tl3xx_sample.s";
const char* const MISMATCH = "\r\nFirmware in the TL3xx drive does not much the file %s\r\n";

struct Image {
  WordImage word;
  int sectors = 0;
  Bytes padded;  // the image and its 0xFF fill up to the last sector
};

Image ImageOf(std::string_view text) {
  Image image;
  image.word = WordImageOf(text);
  image.sectors = static_cast<int>(image.word.bytes.size() / 128) + 1;
  image.padded = image.word.bytes;
  image.padded.resize(static_cast<std::size_t>(image.sectors) * 128, 0xFF);
  return image;
}

Image Sample() {
  return ImageOf(ReadText(std::string(EXAMPLES_DIR) + "/" + SAMPLE));
}

std::string SizeLine(const Image& image) {
  return Format("\r\nFirmware size: %zu checksum %08x\r\n", image.word.bytes.size(),
                image.word.checksum);
}

Bytes FlashHolding(const Bytes& bytes, Bytes flash = Erased(TL3XX_FLASH_SIZE)) {
  Place(flash, 0, bytes);
  return flash;
}

std::vector<std::string> Tl3xxDrive(std::vector<std::string> faults = {}) {
  std::vector<std::string> arguments = {"--identity-hex", NYM_BASIC_IDENTITY_HEX};
  arguments.insert(arguments.end(), faults.begin(), faults.end());
  return arguments;
}

std::string Head(const DriveSim& sim) {
  return Prologue(sim, NYM_BASIC_IDENTITY_LINES);
}

TEST(Tl3xxE2e, ProgramsTheSampleAndVerifiesIt) {
  const Image image = Sample();
  ASSERT_EQ(image.word.bytes.size(), 2820u);
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(
      RanAs(run, 0, Head(sim) + SizeLine(image) + WritePass(pass) + VerifyPass(pass) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(image.padded), flash));
}

TEST(Tl3xxE2e, VerifyOnlyAcceptsAMatchingDrive) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  const Bytes holding = FlashHolding(image.padded);
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/v", "/A", SAMPLE});

  EXPECT_TRUE(RanAs(
      run, 0, Head(sim) + SizeLine(image) + VerifyPass(SectorPass(image.sectors)) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(holding, flash));
}

TEST(Tl3xxE2e, VerifyOnlyReportsEachDifferingSector) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  Bytes holding = FlashHolding(image.padded);
  holding[0] ^= 0x80;                                              // first sector, one byte
  for (int i = 0; i < 128; i += 2) holding[10 * 128 + i] ^= 0x0F;  // half of sector index 10
  // The checksum, in the last sector, differs in its first byte.
  holding[image.word.bytes.size() - 4] ^= 0x01;
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", "/v", SAMPLE});

  const int last = image.sectors - 1;
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) +
                        VerifyPass(SectorPass(image.sectors), {{0, 1}, {10, 64}, {last, 1}}) +
                        Format(MISMATCH, SAMPLE)));
}

TEST(Tl3xxE2e, WriteFailureNamesTheSectorWithoutCode) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive({"--write-status", "2:3"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", SAMPLE});

  EXPECT_TRUE(RanAs(run, 1,
                    Head(sim) + SizeLine(image) + WriteProgress(SectorPass(image.sectors), 1) +
                        "FLASH update failed on sector 1\r\n"));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(
      SameFlash(FlashHolding(Bytes(image.padded.begin(), image.padded.begin() + 128)), flash));
}

TEST(Tl3xxE2e, ReadFailureOnTheFirstSector) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive({"--read-status", "1:9"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(RanAs(run, 1,
                    Head(sim) + SizeLine(image) + WritePass(pass) + VerifyProgress(pass, 0) +
                        "FLASH verification failed on sector 0 because of communication error "
                        "9\r\n"));
}

TEST(Tl3xxE2e, ShortReadBackCountsTheMissingBytes) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive({"--short-read", "3:100"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) + WritePass(pass) + VerifyPass(pass, {{2, 28}}) +
                        Format(MISMATCH, SAMPLE)));
}

// Small files whose word image shows the reader's rules: odd lengths get a
// zero pad byte and a warning, a start address other than 0 a warning, and
// an image of a whole number of sectors one more sector, all 0xFF.
struct SmallFile {
  const char* name;
  std::string text;
  std::string warnings;
};

std::vector<SmallFile> SmallFiles() {
  Bytes whole(124);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i * 7);
  return {
      {"OddLengthAndStartAddress",
       SRecordLine('0', 2, 0, {'o', 'd', 'd'}) + SRecordLine('1', 2, 0, {1, 2, 3, 4, 5}) +
           SRecordLine('9', 2, 0x0100, {}),
       "Warning (file:3) : starting execution address is not zero\r\n"
       "\r\nWarning : input file has odd number of bytes (5) when\r\n"
       "          Atmel Flash organized as 16 bit word's array !\r\n"},
      {"WholeSectorGetsAnErasedOneAfterIt",
       SRecordLine('1', 2, 0, Bytes(whole.begin(), whole.begin() + 62)) +
           SRecordLine('2', 3, 62, Bytes(whole.begin() + 62, whole.end())) +
           SRecordLine('8', 3, 0, {}),
       ""},
      {"GapsReadAsErased",
       SRecordLine('1', 2, 0x0200, {0xAA, 0xBB}) + SRecordLine('1', 2, 0x0000, {0x01, 0x02}), ""},
  };
}

class Tl3xxSmallFile : public ::testing::TestWithParam<SmallFile> {};

TEST_P(Tl3xxSmallFile, LoadsItsWordImage) {
  const Image image = ImageOf(GetParam().text);
  TempDir dir;
  dir.Write("fw.s", GetParam().text);
  // Start from a drive that holds something else, so every sector sent shows.
  const Bytes before = Pattern(TL3XX_FLASH_SIZE, 7);
  dir.Write("flash.in", before);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"fw.s", "/a"});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + GetParam().warnings + SizeLine(image) + WritePass(pass) +
                        VerifyPass(pass) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(image.padded, before), flash));
}

INSTANTIATE_TEST_SUITE_P(Files, Tl3xxSmallFile, ::testing::ValuesIn(SmallFiles()));

struct RefusedFile {
  const char* name;
  std::string text;
  std::string message;
};

std::vector<RefusedFile> RefusedFiles() {
  const std::string s1 = SRecordLine('1', 2, 0x0000, {1, 2, 3, 4});
  return {
      {"FourByteAddressRecord",
       s1 + s1 + SRecordLine('3', 4, 0x100, {5, 6}) + SRecordLine('9', 2, 0, {}),
       "Error (file:3) : 3 and 4 byte address field S-records are not supported\r\n"},
      {"StartRecordOfFourBytes", s1 + SRecordLine('7', 4, 0, {}),
       "Error (file:2) : 3 and 4 byte address field S-records are not supported\r\n"},
      {"NotARecord", s1 + "\n" + "; comment\n", "Error (file:3) : not an S-record found\r\n"},
      {"BeyondTheImageArea", s1 + SRecordLine('2', 3, 0x020000, {1, 2}),
       "Error (file:2) : record does not fit in the flash image area\r\n"},
  };
}

class Tl3xxRefusedFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(Tl3xxRefusedFile, EndsOnItsLineAndWritesNothing) {
  TempDir dir;
  dir.Write("fw.s", GetParam().text);
  DriveSim sim(dir, "tl3xx", Tl3xxDrive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", "fw.s"});

  EXPECT_TRUE(RanAs(run, 1, Head(sim) + GetParam().message));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(Erased(TL3XX_FLASH_SIZE), flash));
}

INSTANTIATE_TEST_SUITE_P(Files, Tl3xxRefusedFile, ::testing::ValuesIn(RefusedFiles()));

TEST(Tl3xxE2e, ClearOptionWithoutFileFindsNoFile) {
  TempDir dir;
  DriveSim sim(dir, "tl3xx", Tl3xxDrive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/a", "/d"});

  EXPECT_TRUE(RanAs(run, 1, Head(sim) + "Can't open file (null)\r\n"));
}

}  // namespace
}  // namespace kelvane::e2e
