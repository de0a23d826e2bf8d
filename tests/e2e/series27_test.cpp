// The 27 series (/9) end to end: a word image in 256-byte sectors, plus the
// checksum sector at 0x1DF00 that tells the drive's boot code the firmware's
// size and checksum.

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// Table rows are shown by their names (see harness.h).
using e2e::PrintTo;

const char* const SAMPLE = "series27_sample.s";
// The 27 series names the TL3xx drive in its verdict: the drives share it.
const char* const MISMATCH = "\r\nFirmware in the TL3xx drive does not much the file %s\r\n";
constexpr std::size_t CHECKSUM_SECTOR = 0x1DF00;

struct Image {
  WordImage word;
  int sectors = 0;
  Bytes padded;
  Bytes checksumSector;
  int words = 0;
};

Image ImageOf(std::string_view text) {
  Image image;
  image.word = WordImageOf(text);
  const std::size_t length = image.word.bytes.size();
  image.sectors = static_cast<int>(length / 256) + 1;
  image.padded = image.word.bytes;
  image.padded.resize(static_cast<std::size_t>(image.sectors) * 256, 0xFF);
  image.words = static_cast<int>((length - 4) / 2);
  image.checksumSector = {0x78, 0x56, 0x34, 0x12};
  for (int i = 0; i < 4; ++i) image.checksumSector.push_back(std::uint8_t(image.words >> (8 * i)));
  image.checksumSector.insert(image.checksumSector.end(), image.word.bytes.end() - 4,
                              image.word.bytes.end());
  image.checksumSector.resize(256, 0xFF);
  return image;
}

Image Sample() {
  return ImageOf(ReadText(std::string(EXAMPLES_DIR) + "/" + SAMPLE));
}

std::string SizeLine(const Image& image) {
  return Format("\r\nFirmware size: %zu checksum %08x\r\n", image.word.bytes.size(),
                image.word.checksum);
}

std::string ChecksumLine(const Image& image) {
  return Format("Firmware checksum is %08x, size in WORDs %d\r\n", image.word.checksum,
                image.words);
}

const char* const CHECKSUM_VERIFIED = "Firmware checksum sector is verified\r\n";
const char* const WRITING_CHECKSUM = "Writing firmware checksum ...\r\n";

Bytes FlashHolding(const Image& image, Bytes flash = Erased(SERIES27_FLASH_SIZE)) {
  Place(flash, 0, image.padded);
  Place(flash, CHECKSUM_SECTOR, image.checksumSector);
  return flash;
}

std::vector<std::string> Series27Drive(std::vector<std::string> faults = {}) {
  std::vector<std::string> arguments = {"--identity-hex", SERIES27_IDENTITY_HEX};
  arguments.insert(arguments.end(), faults.begin(), faults.end());
  return arguments;
}

std::string Head(const DriveSim& sim) {
  return Prologue(sim, SERIES27_IDENTITY_LINES);
}

TEST(Series27E2e, ProgramsTheSampleWithItsChecksumSector) {
  const Image image = Sample();
  ASSERT_EQ(image.word.bytes.size(), 4612u);
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "27", Series27Drive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) + WritePass(pass) + WRITING_CHECKSUM +
                        ChecksumLine(image) + CHECKSUM_VERIFIED + VerifyPass(pass) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(image), flash));
  // The checksum sector is read back with the length every other read of
  // the family carries.
  EXPECT_NE(sim.Log().find("READ 0x0001DF00 256"), std::string::npos) << sim.Log();
}

TEST(Series27E2e, VerifyOnlyReadsTheChecksumSectorAndEveryImageSector) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  const Bytes holding = FlashHolding(image);
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "27", Series27Drive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE, "/v", "/9"});

  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) + ChecksumLine(image) + CHECKSUM_VERIFIED +
                        VerifyPass(SectorPass(image.sectors)) + VERIFIED));
  for (const std::string& line : Lines(sim.Log())) {
    EXPECT_EQ(line.find("WRITE"), std::string::npos) << "verify-only sent: " << line;
  }
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(holding, flash));
}

TEST(Series27E2e, VerifyOnlyAgainstAnErasedDrive) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "27", Series27Drive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", "/v", SAMPLE});

  // Every byte that is not 0xFF in the image differs from erased flash.
  auto notErased = [](const Bytes& bytes, std::size_t from, std::size_t count) {
    int n = 0;
    for (std::size_t i = from; i < from + count; ++i) n += bytes[i] != 0xFF;
    return n;
  };
  std::map<int, int> errors;
  for (int j = 0; j < image.sectors; ++j) errors[j] = notErased(image.padded, j * 256u, 256);
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) + ChecksumLine(image) +
                        Format("Firmware checksum sector 479 has %d errorneous location(s)\r\n",
                               notErased(image.checksumSector, 0, 256)) +
                        VerifyPass(SectorPass(image.sectors), errors) + Format(MISMATCH, SAMPLE)));
}

TEST(Series27E2e, ChecksumSectorReadingBackDifferentLeavesTheVerdictAlone) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  // A cell in the 0xFF part of the checksum sector that reads 0x00.
  DriveSim sim(dir, "27", Series27Drive({"--stuck", "0x1DF40:0"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) + WritePass(pass) + WRITING_CHECKSUM +
                        ChecksumLine(image) +
                        "Firmware checksum sector 479 has 1 errorneous location(s)\r\n" +
                        VerifyPass(pass) + VERIFIED));
}

TEST(Series27E2e, DifferingImageSectorFailsTheVerdict) {
  const Image image = Sample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  const std::size_t stuckAt = 7 * 256 + 3;
  DriveSim sim(
      dir, "27",
      Series27Drive({"--stuck", Format("0x%zX:%u", stuckAt, image.padded[stuckAt] ^ 0x10u)}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Head(sim) + SizeLine(image) + WritePass(pass) + WRITING_CHECKSUM +
                        ChecksumLine(image) + CHECKSUM_VERIFIED + VerifyPass(pass, {{7, 1}}) +
                        Format(MISMATCH, SAMPLE)));
}

// Failed exchanges at each step of the procedure, each ending the run.
struct Failure {
  const char* name;
  std::vector<std::string> faults;
  int writtenSectors;  // image sectors the procedure got through writing
  bool checksumSectorWritten;
  bool checksumSectorRead;
  int verifiedSectors;
  const char* message;
};

class Series27Failure : public ::testing::TestWithParam<Failure> {};

TEST_P(Series27Failure, EndsTheRunWithItsMessage) {
  const Image image = Sample();
  const Failure& f = GetParam();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "27", Series27Drive(f.faults));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", SAMPLE});

  const BlockPass pass = SectorPass(image.sectors);
  std::string expected = Head(sim) + SizeLine(image);
  if (f.writtenSectors < image.sectors) {
    expected += WriteProgress(pass, f.writtenSectors);
  } else {
    expected += WritePass(pass) + WRITING_CHECKSUM + ChecksumLine(image);
    if (f.checksumSectorRead)
      expected += CHECKSUM_VERIFIED + VerifyProgress(pass, f.verifiedSectors);
  }
  EXPECT_TRUE(RanAs(run, 1, expected + f.message));

  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  Bytes expectedFlash = Erased(SERIES27_FLASH_SIZE);
  Place(expectedFlash, 0,
        Bytes(image.padded.begin(), image.padded.begin() + f.writtenSectors * 256));
  if (f.checksumSectorWritten) Place(expectedFlash, CHECKSUM_SECTOR, image.checksumSector);
  EXPECT_TRUE(SameFlash(expectedFlash, flash));
}

// The sample has 19 image sectors: write 20 is the checksum sector, read 1
// its read-back.
INSTANTIATE_TEST_SUITE_P(
    Steps, Series27Failure,
    ::testing::Values(
        Failure{"ImageSectorWrite",
                {"--write-status", "4:2"},
                3,
                false,
                false,
                0,
                "FLASH update failed on sector 3\r\n"},
        Failure{"ChecksumSectorWrite",
                {"--write-status", "20:6"},
                19,
                false,
                false,
                0,
                "Firmware checksum update failed on sector 479\r\n"},
        Failure{"ChecksumSectorRead",
                {"--read-status", "1:4"},
                19,
                true,
                false,
                0,
                "Failed to read sector with firmware checksum and length\r\n"},
        Failure{"ImageSectorRead",
                {"--read-status", "3:8"},
                19,
                true,
                true,
                1,
                "FLASH verification failed on sector 1 because of communication error 8\r\n"}));

struct RefusedFile {
  const char* name;
  std::string text;
  std::string message;
};

class Series27RefusedFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(Series27RefusedFile, EndsOnItsLineAndWritesNothing) {
  TempDir dir;
  dir.Write("fw.s", GetParam().text);
  DriveSim sim(dir, "27", Series27Drive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", "fw.s"});

  EXPECT_TRUE(RanAs(run, 1, Head(sim) + GetParam().message));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(Erased(SERIES27_FLASH_SIZE), flash));
}

INSTANTIATE_TEST_SUITE_P(
    Files, Series27RefusedFile,
    ::testing::Values(
        // An image reaching the checksum sector would be overwritten by it.
        RefusedFile{"ReachesTheChecksumSector",
                    SRecordLine('1', 2, 0, {1, 2}) + SRecordLine('0', 2, 0, {}) +
                        SRecordLine('2', 3, CHECKSUM_SECTOR, {3, 4}),
                    "Error (file:3) : record does not fit in the flash image area\r\n"},
        RefusedFile{"FourByteAddressRecord",
                    SRecordLine('1', 2, 0, {1, 2}) + SRecordLine('3', 4, 0x200, {3, 4}),
                    "Error (file:2) : 3 and 4 byte address field S-records are not supported\r\n"},
        RefusedFile{"LowerCaseHex", "S1050000ab01\n",
                    "Error (file:1) : not an S-record found\r\n"}));

TEST(Series27E2e, ClearOptionWithoutFileFindsNoFile) {
  TempDir dir;
  DriveSim sim(dir, "27", Series27Drive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/9", "/p"});

  EXPECT_TRUE(RanAs(run, 1, Head(sim) + "Can't open file (null)\r\n"));
}

}  // namespace
}  // namespace kelvane::e2e
