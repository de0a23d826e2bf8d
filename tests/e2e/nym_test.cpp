// The default family end to end: kelvane against a drive-sim Nym drive. The
// drive stores the sector written at address A at A + 0x2000, so the flash
// that drive-sim saves holds the loaded image from 0x2000 on.

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// Table rows are shown by their names (see harness.h).
using e2e::PrintTo;

constexpr std::size_t READ_BACK_OFFSET = 0x2000;
constexpr int CLEAR_SECTORS = 992;
constexpr int PARAMETERS_FIRST_SECTOR = 736;
const char* const SAMPLE = "nym_sample.s";
const char* const MISMATCH = "\r\nFirmware in the Nym7700 drive does not much the file %s\r\n";

struct Sample {
  Bytes image;  // the record stream and its 0xFF fill up to the last sector
  int sectors = 0;
};

Sample NymSample() {
  Sample sample;
  sample.image = NymRecordStream(ReadText(std::string(EXAMPLES_DIR) + "/" + SAMPLE));
  sample.sectors = static_cast<int>(sample.image.size() >> 8) + 1;
  sample.image.resize(static_cast<std::size_t>(sample.sectors) * 256, 0xFF);
  return sample;
}

// The flash of a drive that holds sectors [0, sectors) of `image`.
Bytes FlashHolding(const Bytes& image, int sectors, Bytes flash = Erased(NYM_FLASH_SIZE)) {
  Place(flash, READ_BACK_OFFSET, Bytes(image.begin(), image.begin() + sectors * 256));
  return flash;
}

std::vector<std::string> NymDrive(std::vector<std::string> faults = {}) {
  std::vector<std::string> arguments = {"--identity-hex", NYM_IDENTITY_HEX};
  arguments.insert(arguments.end(), faults.begin(), faults.end());
  return arguments;
}

std::string Mismatch(const char* name) {
  return Format(MISMATCH, name);
}

TEST(NymE2e, ProgramsTheSampleAndVerifiesIt) {
  const Sample sample = NymSample();
  ASSERT_EQ(sample.sectors, 13) << "the sample is meant to span several sectors";
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", NymDrive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) + WritePass(SectorPass(sample.sectors)) +
                        VerifyPass(SectorPass(sample.sectors)) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(sample.image, sample.sectors), flash));
}

TEST(NymE2e, VerifyOnlyAcceptsAMatchingDriveAndWritesNothing) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  const Bytes holding = FlashHolding(sample.image, sample.sectors);
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "nym", NymDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/v", SAMPLE});

  EXPECT_TRUE(
      RanAs(run, 0,
            Prologue(sim, NYM_IDENTITY_LINES) + VerifyPass(SectorPass(sample.sectors)) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(holding, flash));
  for (const std::string& line : Lines(sim.Log())) {
    EXPECT_EQ(line.find("WRITE"), std::string::npos) << "verify-only sent: " << line;
  }
}

TEST(NymE2e, VerifyOnlyCountsDifferingBytesPerSectorAndGoesOn) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  Bytes holding = FlashHolding(sample.image, sample.sectors);
  // Sector index 5: three bytes flipped; sector index 9: every byte.
  for (std::size_t i : {0, 100, 255}) holding[READ_BACK_OFFSET + 5 * 256 + i] ^= 0x01;
  for (std::size_t i = 0; i < 256; ++i) holding[READ_BACK_OFFSET + 9 * 256 + i] ^= 0xFF;
  dir.Write("flash.in", holding);
  DriveSim sim(dir, "nym", NymDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE, "/v"});

  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) +
                        VerifyPass(SectorPass(sample.sectors), {{5, 3}, {9, 256}}) +
                        Mismatch(SAMPLE)));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(holding, flash));
}

TEST(NymE2e, ClearEntireFlashErasesAll992Sectors) {
  TempDir dir;
  const Bytes before = Pattern(NYM_FLASH_SIZE, 1);
  dir.Write("flash.in", before);
  DriveSim sim(dir, "nym", NymDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/d"});

  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) + "Setting flash to 0xFF\r\n" +
                        WritePass(SectorPass(CLEAR_SECTORS)) +
                        VerifyPass(SectorPass(CLEAR_SECTORS)) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  // Sectors 0..991 are stored from 0x2000 to 0x3FFFF; the monitor area below
  // and the tail above were never addressed.
  EXPECT_TRUE(SameFlash(FlashHolding(Erased(CLEAR_SECTORS * 256), CLEAR_SECTORS, before), flash));
}

TEST(NymE2e, ClearParametersSectionLeavesEarlierSectorsAlone) {
  TempDir dir;
  const Bytes before = Pattern(NYM_FLASH_SIZE, 2);
  dir.Write("flash.in", before);
  DriveSim sim(dir, "nym", NymDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  // A file name given with a clear option is not opened.
  LoaderResult run = RunLoader(dir, &sim, {"/p", "missing.s"});

  const BlockPass pass = SectorPass(CLEAR_SECTORS, PARAMETERS_FIRST_SECTOR);
  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) + "Setting flash to 0xFF\r\n" +
                        WritePass(pass) + VerifyPass(pass) + VERIFIED));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  Bytes expected = before;
  Place(expected, READ_BACK_OFFSET + PARAMETERS_FIRST_SECTOR * 256,
        Erased((CLEAR_SECTORS - PARAMETERS_FIRST_SECTOR) * 256));
  EXPECT_TRUE(SameFlash(expected, flash));
}

TEST(NymE2e, ClearVerifyWithoutFileShowsNullInTheVerdict) {
  TempDir dir;
  Bytes before = Erased(NYM_FLASH_SIZE);
  before[READ_BACK_OFFSET + 100 * 256 + 7] = 0x00;
  Place(before, READ_BACK_OFFSET + 991 * 256, Pattern(256, 3));
  dir.Write("flash.in", before);
  DriveSim sim(dir, "nym", NymDrive({"--flash-in", dir.File("flash.in")}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/d", "/v"});

  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) + "Setting flash to 0xFF\r\n" +
                        VerifyPass(SectorPass(CLEAR_SECTORS), {{100, 1}, {991, 256}}) +
                        Mismatch("(null)")));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(before, flash));
}

TEST(NymE2e, WriteFailureNamesTheSectorAndTheDriveStatus) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", NymDrive({"--write-status", "3:5"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  EXPECT_TRUE(RanAs(run, 1,
                    Prologue(sim, NYM_IDENTITY_LINES) +
                        WriteProgress(SectorPass(sample.sectors), 2) +
                        "FLASH update failed on sector 2 : error code 5\r\n"));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(sample.image, 2), flash));
}

TEST(NymE2e, ReadFailureEndsTheVerifyPass) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", NymDrive({"--read-status", "4:7"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  const BlockPass pass = SectorPass(sample.sectors);
  EXPECT_TRUE(RanAs(run, 1,
                    Prologue(sim, NYM_IDENTITY_LINES) + WritePass(pass) + VerifyProgress(pass, 3) +
                        "FLASH verification failed on sector 3 because of communication error "
                        "7\r\n"));
  const std::vector<std::string> log = Lines(sim.Log());
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("READ"), std::string::npos) << "nothing is sent after the failure";
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(sample.image, sample.sectors), flash));
}

TEST(NymE2e, CellThatWillNotProgramFailsTheVerdict) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  const std::size_t offset = 2 * 256 + 17;
  const std::uint8_t stuck = sample.image[offset] ^ 0xFF;
  DriveSim sim(dir, "nym",
               NymDrive({"--stuck", Format("0x%zX:%u", READ_BACK_OFFSET + offset, stuck)}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  const BlockPass pass = SectorPass(sample.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) + WritePass(pass) +
                        VerifyPass(pass, {{2, 1}}) + Mismatch(SAMPLE)));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  Bytes expected = FlashHolding(sample.image, sample.sectors);
  expected[READ_BACK_OFFSET + offset] = stuck;
  EXPECT_TRUE(SameFlash(expected, flash));
}

TEST(NymE2e, ShortReadBackCountsTheMissingBytesAsErrors) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", NymDrive({"--short-read", "2:200", "--short-read", "4:0"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  const BlockPass pass = SectorPass(sample.sectors);
  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES) + WritePass(pass) +
                        VerifyPass(pass, {{1, 56}, {3, 256}}) + Mismatch(SAMPLE)));
}

TEST(NymE2e, LateReplyCountsAsNoReply) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  // Request 3 is the write of sector index 1 (request 1 is the identify).
  DriveSim sim(dir, "nym", NymDrive({"--late", "3"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  EXPECT_TRUE(RanAs(run, 1,
                    Prologue(sim, NYM_IDENTITY_LINES) +
                        WriteProgress(SectorPass(sample.sectors), 1) +
                        "FLASH update failed on sector 1 : error code 16\r\n"));
  // The drive took the write; only its answer came too late.
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(FlashHolding(sample.image, 2), flash));
}

TEST(NymE2e, MissingFileIsReportedAfterTheIdentity) {
  TempDir dir;
  DriveSim sim(dir, "nym", NymDrive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"missing.s"});

  EXPECT_TRUE(RanAs(run, 1, Prologue(sim, NYM_IDENTITY_LINES) + "Can't open file missing.s\r\n"));
  EXPECT_EQ(Lines(sim.Log()).size(), 1u) << "only the identify request:\n" << sim.Log();
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(Erased(NYM_FLASH_SIZE), flash));
}

TEST(NymE2e, VanishedDriveEndsTheRunInsteadOfHanging) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  // The drive answers the identify and four writes, then its line goes away.
  DriveSim sim(dir, "nym", NymDrive({"--hangup-after", "5"}));
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE}, 20s);

  // Whether the last answer still got through before the hang-up, and
  // whether the next write or the read after it notices the hang-up first,
  // is a race: sector 3 or 4, no reply (16) or port error (18).
  EXPECT_EQ(run.status, 1);
  const std::string head = Prologue(sim, NYM_IDENTITY_LINES);
  bool matched = false;
  for (int sector : {3, 4}) {
    for (int code : {16, 18}) {
      std::string expected =
          head + WriteProgress(SectorPass(sample.sectors), sector) +
          Format("FLASH update failed on sector %d : error code %d\r\n", sector, code);
      matched = matched || run.out == expected;
    }
  }
  EXPECT_TRUE(matched) << "unexpected output:\n" << Escape(run.out);
}

// Files the record stream reader refuses: the run ends on the offending
// line before anything is written.
struct RefusedFile {
  const char* name;
  std::string text;
  std::string message;
};

std::string OverlongStream() {
  // S3 records of 47 counted bytes each add 49 bytes to the stream. 5224 of
  // them and the terminator fit below the 256000-byte image area; the 5225th
  // record (line 5226, after the S0 line) does not.
  std::string text = SRecordLine('0', 2, 0, {'b', 'i', 'g'});
  for (std::uint32_t k = 0; k < 5230; ++k) {
    text += SRecordLine('3', 4, 0x10000 + k * 42, Pattern(42, k));
  }
  return text;
}

std::vector<RefusedFile> RefusedFiles() {
  const std::string s0 = SRecordLine('0', 2, 0, {'h', 'd', 'r'});
  const std::string s2 = SRecordLine('2', 3, 0x010000, {1, 2, 3, 4});
  return {
      {"TwoByteAddressRecord", s0 + s2 + SRecordLine('1', 2, 0x100, {5, 6}) + s2,
       "Error (file:3) : 2 byte address field S-record is not supported\r\n"},
      {"LowerCaseHex", s0 + "S2080100000102030a0b\n" + s2,
       "Error (file:2) : not an S-record found\r\n"},
      {"LeadingBlank", s0 + "\n" + s2 + " " + s2, "Error (file:4) : not an S-record found\r\n"},
      {"CountBeyondTheLine", s2 + "S2100100000102\n", "Error (file:2) : not an S-record found\r\n"},
      {"StreamBeyondTheImageArea", OverlongStream(),
       "Error (file:5226) : record does not fit in the flash image area\r\n"},
  };
}

class NymRefusedFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(NymRefusedFile, EndsOnItsLineAndWritesNothing) {
  TempDir dir;
  dir.Write("fw.s", GetParam().text);
  DriveSim sim(dir, "nym", NymDrive());
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"fw.s"});

  EXPECT_TRUE(RanAs(run, 1, Prologue(sim, NYM_IDENTITY_LINES) + GetParam().message));
  EXPECT_EQ(Lines(sim.Log()).size(), 1u) << "only the identify request:\n" << sim.Log();
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  EXPECT_TRUE(SameFlash(Erased(NYM_FLASH_SIZE), flash));
}

INSTANTIATE_TEST_SUITE_P(Files, NymRefusedFile, ::testing::ValuesIn(RefusedFiles()));

}  // namespace
}  // namespace kelvane::e2e
