// The run sequence end to end: arguments, port, link establishment, exit
// statuses, with the real program.

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

// Table rows are shown by their names (see harness.h).
using e2e::PrintTo;

const char* const SAMPLE = "nym_sample.s";

struct Sample {
  Bytes image;
  int sectors = 0;
};

Sample NymSample() {
  Sample sample;
  sample.image = NymRecordStream(ReadText(std::string(EXAMPLES_DIR) + "/" + SAMPLE));
  sample.sectors = static_cast<int>(sample.image.size() >> 8) + 1;
  return sample;
}

std::string ProgramAndVerify(int sectors) {
  return WritePass(SectorPass(sectors)) + VerifyPass(SectorPass(sectors)) + VERIFIED;
}

TEST(RunSequenceE2e, NoArgumentAtAll) {
  TempDir dir;
  LoaderResult run = RunLoader(dir, nullptr, {});
  EXPECT_TRUE(RanAs(run, 1, Banner() + NOT_SPECIFIED));
}

TEST(RunSequenceE2e, OptionsWithoutFileNameOpenNoPort) {
  TempDir dir;
  // /c0 names a port that cannot be opened: the file check comes first.
  LoaderResult run = RunLoader(dir, nullptr, {"/c0", "/v", "/a"});
  EXPECT_TRUE(RanAs(run, 1, Banner() + NOT_SPECIFIED));
}

struct HelpCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string before;  // lines between the banner and the usage screen
};

class RunSequenceHelp : public ::testing::TestWithParam<HelpCase> {};

TEST_P(RunSequenceHelp, ShowsTheUsageScreenAndOpensNoPort) {
  TempDir dir;
  dir.CopyExample(SAMPLE);
  LoaderResult run = RunLoader(dir, nullptr, GetParam().arguments);
  EXPECT_TRUE(RanAs(run, 0, Banner() + GetParam().before + Usage()));
}

INSTANTIATE_TEST_SUITE_P(
    Options, RunSequenceHelp,
    ::testing::Values(HelpCase{"LowerH", {"/h"}, ""}, HelpCase{"UpperH", {"/H"}, ""},
                      HelpCase{"QuestionMark", {"/?"}, ""},
                      // Arguments before the help option are read, those after it not.
                      HelpCase{"AfterUnknownOptionAndFile",
                               {"/x", SAMPLE, "/?", "/q", "/c0"},
                               "Unknown option: /x\r\n"},
                      HelpCase{"BeforeFileAndPort", {"/h", SAMPLE, "/c0"}, ""}));

struct BadPort {
  const char* name;
  std::string option;
  std::string failure;
};

class RunSequenceBadPort : public ::testing::TestWithParam<BadPort> {};

TEST_P(RunSequenceBadPort, FailsToOpenIt) {
  TempDir dir;
  dir.CopyExample(SAMPLE);
  LoaderResult run = RunLoader(dir, nullptr, {GetParam().option, SAMPLE});
  EXPECT_TRUE(RanAs(run, 1, Banner() + GetParam().failure));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, RunSequenceBadPort,
    ::testing::Values(BadPort{"PortZero", "/c0", "Failed to open COM0 port\r\n"},
                      // A bare /c reads the terminating zero: '\0' - '0' is -48.
                      BadPort{"BareC", "/c", "Failed to open COM-48 port\r\n"},
                      BadPort{"LetterAfterC", "/cx", "Failed to open COM72 port\r\n"},
                      BadPort{"MissingDevice", "/c/dev/kelvane-no-such-device",
                              "Failed to open /dev/kelvane-no-such-device port\r\n"}));

TEST(RunSequenceE2e, UnknownOptionsAreReportedAndTheRunGoesOn) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", {"--identity-hex", NYM_IDENTITY_HEX});
  ASSERT_TRUE(sim.Started());

  // "-v" is a file name, overridden by the later one; "/" alone and "/x"
  // are unknown options.
  LoaderResult run = RunLoader(dir, &sim, {"/x", "-v", "/", SAMPLE});

  EXPECT_TRUE(
      RanAs(run, 0,
            Prologue(sim, NYM_IDENTITY_LINES, 0, "Unknown option: /x\r\nUnknown option: /\r\n") +
                ProgramAndVerify(sample.sectors)));
}

TEST(RunSequenceE2e, BaudRateOptionShowsInThePortLine) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", {"--identity-hex", NYM_IDENTITY_HEX});
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/b115200", SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Banner() + sim.PortLine(115200) +
                        "Connection with device established.\r\n\r\nDevice details:\r\n" +
                        NYM_IDENTITY_LINES + "\r\n" + ProgramAndVerify(sample.sectors)));
}

TEST(RunSequenceE2e, BaudRateZeroIsRefusedByThePort) {
  if (UnderWine()) GTEST_SKIP() << "how a Windows port refuses a rate is the port driver's";
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym");
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {"/b0", SAMPLE});

  EXPECT_TRUE(RanAs(run, 1, Banner() + sim.PortFailureLine()));
}

TEST(RunSequenceE2e, SecondLoaderCannotOpenABusyPort) {
  if (UnderWine()) GTEST_SKIP() << "Wine lets a second program open a COM port that is open";
  TempDir dir;
  dir.CopyExample(SAMPLE);
  // A drive that never answers keeps the first loader in its countdown.
  DriveSim sim(dir, "nym", {"--silent"});
  ASSERT_TRUE(sim.Started());
  LoaderProcess first(dir, &sim, {SAMPLE});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(first.WaitForOutput("Trying to establish link with device 1000\r", 30s))
      << "the first loader never got to its countdown";

  LoaderResult second = RunLoader(dir, &sim, {SAMPLE}, 30s);

  EXPECT_TRUE(RanAs(second, 1, Banner() + sim.PortFailureLine()));
  first.Kill();
}

TEST(RunSequenceE2e, PortIsFreeAgainAfterARun) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  DriveSim sim(dir, "nym", {"--identity-hex", NYM_IDENTITY_HEX});
  ASSERT_TRUE(sim.Started());

  // Two runs one after the other against the same drive, the second only
  // verifying what the first wrote.
  LoaderResult first = RunLoader(dir, &sim, {SAMPLE});
  LoaderResult second = RunLoader(dir, &sim, {"/v", SAMPLE});

  EXPECT_TRUE(
      RanAs(first, 0, Prologue(sim, NYM_IDENTITY_LINES) + ProgramAndVerify(sample.sectors)));
  EXPECT_TRUE(
      RanAs(second, 0,
            Prologue(sim, NYM_IDENTITY_LINES) + VerifyPass(SectorPass(sample.sectors)) + VERIFIED));
}

// Link establishment: what the drive does to the first identify requests,
// and how many countdown lines that costs before the run goes on as usual.
struct LinkCase {
  const char* name;
  std::vector<std::string> faults;
  int failedAttempts;
};

class RunSequenceLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(RunSequenceLink, CountsDownFailedAttemptsThenLoads) {
  const Sample sample = NymSample();
  TempDir dir;
  dir.CopyExample(SAMPLE);
  std::vector<std::string> arguments = {"--identity-hex", NYM_IDENTITY_HEX};
  arguments.insert(arguments.end(), GetParam().faults.begin(), GetParam().faults.end());
  DriveSim sim(dir, "nym", arguments);
  ASSERT_TRUE(sim.Started());

  LoaderResult run = RunLoader(dir, &sim, {SAMPLE});

  EXPECT_TRUE(RanAs(run, 0,
                    Prologue(sim, NYM_IDENTITY_LINES, GetParam().failedAttempts) +
                        ProgramAndVerify(sample.sectors)));
  Bytes flash;
  ASSERT_TRUE(sim.Stop(flash));
  Bytes expected = Erased(NYM_FLASH_SIZE);
  Bytes image = sample.image;
  image.resize(static_cast<std::size_t>(sample.sectors) * 256, 0xFF);
  Place(expected, 0x2000, image);
  EXPECT_TRUE(SameFlash(expected, flash));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RunSequenceLink,
    ::testing::Values(LinkCase{"AnswersAtOnce", {}, 0},
                      LinkCase{"SilentForThreeRequests", {"--silent-first", "3"}, 3},
                      LinkCase{"DriveStatusOnIdentify", {"--identify-status", "1:9"}, 1},
                      LinkCase{"BadPayloadChecksum", {"--bad-payload-checksum", "1"}, 1},
                      LinkCase{"SilenceThenStatusThenChecksum",
                               {"--silent-first", "1", "--identify-status", "2:16",
                                "--bad-payload-checksum", "3"},
                               3},
                      // A frame with a bad header is skipped and the real reply after it read.
                      LinkCase{"BadHeaderBeforeTheReply", {"--bad-header", "1"}, 0},
                      // Noise before replies, during the link and during both passes.
                      LinkCase{"NoiseOnTheLine",
                               {"--noise", "1:40", "--noise", "4:300", "--noise", "20:7",
                                "--bad-header", "21"},
                               0}));

}  // namespace
}  // namespace kelvane::e2e
