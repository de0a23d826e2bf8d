// Runs that are not one family's load: clearing a Nym drive, files the
// loader refuses, a drive that vanishes or never answers, a port already in
// use, and drive-sim's own command line.

#include <signal.h>

#include <filesystem>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

using e2e::PrintTo;

using namespace std::chrono_literals;

struct Clear {
  const char* name;
  std::vector<std::string> options;
  int first;         // first sector sent
  bool written;      // false under verify-only
  std::size_t from;  // flash cleared from here (as read back) to 0x40000
};

class ClearsNym : public ::testing::TestWithParam<Clear> {};

TEST_P(ClearsNym, SendsAllFFAndChecksIt) {
  const Clear& c = GetParam();
  TempDir dir;
  const Bytes before(0x40800, 0x00);
  dir.Write("flash.in", before);
  Drive drive(dir, "nym", {"--flash-in", dir.File("flash.in")});
  std::string expected = Head(drive, "nym") + "Setting flash to 0xFF\r\n";
  std::map<int, int> errors;
  if (c.written) {
    expected += "Updating firmware:\r\n" + Pass("updated", "sectors", 992, c.first) +
                "\r\nFirmware was successufully updated\r\n";
  } else {
    for (int j = c.first; j < 992; ++j) errors[j] = 256;
  }
  expected += "Verifying firmware:\r\n" + Pass("verifyed", "sectors", 992, c.first, -1, errors) +
              (c.written ? "\r\nFirmware was successufully verifyed\r\n"
                         : "\r\nFirmware in the Nym7700 drive does not much the file (null)\r\n");
  EXPECT_TRUE(Ran(Load(dir, &drive, c.options), 0, expected));
  Bytes flash = before;
  if (c.written) std::fill(flash.begin() + c.from, flash.begin() + 0x40000, 0xFF);
  EXPECT_TRUE(SameFlash(flash, drive.Stop()));
}

INSTANTIATE_TEST_SUITE_P(Modes, ClearsNym,
                         ::testing::Values(Clear{"Entire", {"/d"}, 0, true, 0x2000},
                                           Clear{"Parameters", {"/p"}, 736, true, 0x30000},
                                           Clear{"VerifyOnly", {"/d", "/v"}, 0, false, 0}),
                         [](const auto& info) { return info.param.name; });

struct Refused {
  const char* name;
  const char* family;
  const char* option;
  const char* file;      // written into the directory unless empty
  const char* contents;  // nullptr: a directory of that name
  const char* out;       // after the identity
};

const Refused REFUSED[] = {
    {"Missing", "nym", "", "", "", "Can't open file none.s\r\n"},
    {"Directory", "nym", "", "none.s", nullptr, "Can't open file none.s\r\n"},
    {"NotSRecords", "nym", "", "none.s", "hello\n", "Error (file:1) : not an S-record found\r\n"},
    {"BeyondTheArea", "tl3xx", "/a", "none.s", "S1050000AABB94\nS2060300000102F3\n",
     "Error (file:2) : record does not fit in the flash image area\r\n"},
    {"ShortBinary", "tk720", "/m", "none.s", "1234567",
     "File is too short for the image header. Nothing to load.\r\n"},
};

class RefusesFile : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusesFile, EndsTheRunAndWritesNothing) {
  const Refused& r = GetParam();
  TempDir dir;
  if (r.contents == nullptr) std::filesystem::create_directory(dir.File(r.file));
  if (*r.file != '\0' && r.contents != nullptr) dir.Write(r.file, std::string(r.contents));
  Drive drive(dir, r.family);
  std::vector<std::string> arguments = {"none.s"};
  if (*r.option != '\0') arguments.insert(arguments.begin(), r.option);
  EXPECT_TRUE(Ran(Load(dir, &drive, arguments), 1, Head(drive, r.family) + r.out));
  EXPECT_TRUE(SameFlash(Bytes(FlashSize(r.family), 0xFF), drive.Stop()));
}

INSTANTIATE_TEST_SUITE_P(Files, RefusesFile, ::testing::ValuesIn(REFUSED),
                         [](const auto& info) { return info.param.name; });

// A paced drive, so that a load lasts about a second and can be met midway.
std::vector<std::string> Paced() {
  return {"--pace", "--baud", "38400"};
}

TEST(Runs, VanishedDriveEndsTheRun) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drive drive(dir, "nym", Paced());
  auto loader = StartLoader(dir, &drive, {"nym_sample.s"});
  ASSERT_TRUE(loader->WaitForStdout("   3 of   13 sectors updated", 30s));
  drive.Kill();
  ASSERT_TRUE(loader->Wait(10s));
  EXPECT_EQ(loader->status(), 1);
  // The request in flight finds no reply, or no line to be written to.
  const std::string out = loader->Stdout();
  EXPECT_NE(out.find(" sectors updated\rFLASH update failed on sector "), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with(" : error code 16\r\n") || out.ends_with(" : error code 18\r\n"));
}

TEST(Runs, BusyPortIsNotOpenedTwice) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drive drive(dir, "nym", Paced());
  auto first = StartLoader(dir, &drive, {"nym_sample.s"});
  ASSERT_TRUE(first->WaitForStdout("Updating firmware:", 30s));
  EXPECT_TRUE(Ran(Load(dir, &drive, {"nym_sample.s"}), 1, BANNER + drive.PortFailure()));
  ASSERT_TRUE(first->Wait(60s));
  EXPECT_EQ(first->status(), 0);
  EXPECT_TRUE(first->Stdout().ends_with("\r\nFirmware was successufully verifyed\r\n"));
}

// 1000 identify attempts of 200 ms each: run by `make test-long`.
TEST(Runs, DISABLED_LONG_SilentDriveExhaustsTheAttempts) {
  TempDir dir;
  Drive drive(dir, "nym", {"--silent"});
  std::string countdown;
  for (int n = 1000; n >= 1; --n) {
    char line[64];
    std::snprintf(line, sizeof line, "Trying to establish link with device %4d\r", n);
    countdown += line;
  }
  EXPECT_TRUE(Ran(Load(dir, &drive, {"firmware.s"}), 1,
                  BANNER + drive.PortLine() + countdown +
                      "Failed to establish connection with selected device\r\n\r\n"));
}

// ---- drive-sim's command line, as a user relies on it.

struct SimLine {
  const char* name;
  std::vector<std::string> arguments;
  int status;        // -1: it serves, and is stopped
  const char* says;  // on standard error (standard output for --version)
};

const SimLine SIM_LINES[] = {
    {"Version", {"--version"}, 0, "drive-sim 2.03\n"},
    {"BaudWithoutPace", {"--baud", "14400"}, 2, "--baud needs --pace"},
    {"AnyBaudPaced", {"--baud", "14400", "--pace"}, -1, "served 0 requests, injected 0 faults"},
    {"SlowPaceWarned", {"--baud", "9600", "--pace"}, -1, "takes 276 ms on the wire"},
    {"UnknownFamily", {"--family", "nym2"}, 2, "--family: 'nym2' is not a family"},
    {"StuckOutsideTheFlash", {"--stuck", "0x40800:0"}, 2, "lies outside the 0x40800-byte flash"},
};

class DriveSimLine : public ::testing::TestWithParam<SimLine> {};

TEST_P(DriveSimLine, IsTakenOrRefused) {
  const SimLine& line = GetParam();
  std::vector<std::string> argv = {DRIVE_SIM_BIN};
  argv.insert(argv.end(), line.arguments.begin(), line.arguments.end());
  testing::ChildProcess sim(argv);
  if (line.status < 0) {
    ASSERT_TRUE(sim.WaitForStdout("\n", 10s));
    sim.Signal(SIGTERM);
  }
  ASSERT_TRUE(sim.Wait(10s));
  EXPECT_EQ(sim.status(), std::max(line.status, 0));
  const std::string said = line.status == 0 ? sim.Stdout() : sim.Stderr();
  EXPECT_NE(said.find(line.says), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Options, DriveSimLine, ::testing::ValuesIn(SIM_LINES),
                         [](const auto& info) { return info.param.name; });

TEST(DriveSim, LogsToStandardOutputAndSumsUpOnExit) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  testing::ChildProcess sim(
      {DRIVE_SIM_BIN, "--log", "-", "--write-status", "2:0x22", "--flash-out", dir.File("flash")});
  ASSERT_TRUE(sim.WaitForStdout("\n", 10s));
  const std::string pty = sim.Stdout().substr(0, sim.Stdout().find('\n'));
  testing::ChildProcess loader({KELVANE_BIN, "/c" + pty, "nym_sample.s"}, {dir.path(), "", ""});
  ASSERT_TRUE(loader.Wait(30s));
  sim.Signal(SIGTERM);
  ASSERT_TRUE(sim.Wait(10s));
  EXPECT_EQ(sim.Stdout(), pty +
                              "\nIDENTIFY status 0\nWRITE 0x00000000 256 status 0\n"
                              "WRITE 0x00000100 256 status 34\n");
  EXPECT_NE(sim.Stderr().find("served 3 requests, injected 1 faults; flash saved to " +
                              dir.File("flash")),
            std::string::npos)
      << sim.Stderr();
}

}  // namespace
}  // namespace kelvane::e2e
