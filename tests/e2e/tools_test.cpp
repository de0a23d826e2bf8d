// The field options against drive-sim: a run with them prints what the same
// run without them prints (or, where they change the run, the stated text),
// the trace goes to standard error only, /e turns a mismatch into status 2,
// and neither /n nor a refused /r sends the drive anything.

#include <filesystem>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

using e2e::PrintTo;

struct Tool {
  const char* name;
  const char* family;  // drive-sim's --family
  std::vector<std::string> sim;
  std::vector<std::string> run;    // the options of the run itself and its file
  std::vector<std::string> tools;  // the field options, put first
  int status;
  const char* out;               // after the banner and any port line; nullptr: as without `tools`
  std::vector<std::string> err;  // in this order on standard error; none: empty
  bool sends = true;             // false: the drive must not hear a byte
};

#define REFUSED_R "Option /r takes a number of link attempts from 1 to 9999: "
#define DRY_RUN "Dry run, no port opened and nothing sent:\r\n Family:           "

// clang-format off
const Tool TOOLS[] = {
    {"TraceLoad", "nym", {"--silent-first", "1"}, {"nym_sample.s"}, {"/t"}, 0, nullptr,
     {"ms -> IDENTIFY  55 AA 00 00 10 10", "ms -- 200 ms of silence, no reply to IDENTIFY",
      "ms <- IDENTIFY  AA 55 28 00 10 00 38 ", "ms -> WRITE_BLOCK  55 AA 04 01 11 16 00 00 00 00 ",
      "ms <- WRITE_BLOCK  AA 55 00 00 11 00 11", "ms <- READ_BLOCK  AA 55 00 01 12 00 13 "}},
    {"TraceBadChecksumAndNoise", "nym", {"--bad-payload-checksum", "1", "--noise", "2:3"},
     {"/v", "nym_sample.s"}, {"/T"}, 0, nullptr, {"<- IDENTIFY  AA 55 28 00 10 00 38 ",
     "(payload checksum wrong)", "ms -- 3 bytes skipped before the reply: ", "ms <- IDENTIFY"}},
    {"StrictMatch", "nym", {}, {"nym_sample.s"}, {"/e"}, 0, nullptr, {}},
    {"StrictMismatch", "nym", {}, {"/v", "nym_sample.s"}, {"/E"}, 2, nullptr, {}},
    {"StrictDigestMismatch", "tk720-digest", {}, {"/s", "/v", "tk720_digest_sample.bin"}, {"/e"},
     2, nullptr, {}},
    // The sectors match but the drive will not boot: a mismatch for a script.
    {"StrictChecksumSector", "27", {"--stuck", "0x1DF00:0"}, {"/9", "series27_sample.s"}, {"/e"},
     2, nullptr, {}},
    {"StrictFailure", "tl3xx", {"--write-status", "2:0x21"}, {"/a", "tl3xx_sample.s"}, {"/e"}, 1,
     nullptr, {}},
    {"AttemptsUpperBound", "nym", {}, {"nym_sample.s"}, {"/R9999"}, 0, nullptr, {}},
    {"AttemptsCountDown", "nym", {"--silent"}, {"nym_sample.s"}, {"/r2"}, 1,
     "Trying to establish link with device    2\rTrying to establish link with device    1\r"
     "Failed to establish connection with selected device\r\n\r\n", {}},
    {"AttemptsZero", "nym", {}, {"nym_sample.s"}, {"/r0"}, 1, REFUSED_R "/r0\r\n", {}, false},
    {"AttemptsTooMany", "nym", {}, {"nym_sample.s"}, {"/r10000"}, 1, REFUSED_R "/r10000\r\n", {},
     false},
    {"AttemptsNotANumber", "nym", {}, {"nym_sample.s"}, {"/r5x"}, 1, REFUSED_R "/r5x\r\n", {},
     false},
    {"AttemptsMissing", "nym", {}, {"nym_sample.s"}, {"/r"}, 1, REFUSED_R "/r\r\n", {}, false},
    {"DryRunNym", "nym", {}, {"nym_sample.s"}, {"/n"}, 0,
     DRY_RUN "Nym\r\n File:             nym_sample.s\r\n Image bytes:      3089\r\n"
     " Blocks to write:  13 sectors, 0 to 12 (0x0 to 0xC00)\r\n"
     " Check value:      none, the drive compares what it reads back\r\n", {}, false},
    {"DryRunClearParameters", "nym", {}, {"/p"}, {"/N"}, 0,
     "Setting flash to 0xFF\r\n" DRY_RUN "Nym\r\n File:             none, the flash is cleared\r\n"
     " Image bytes:      253800\r\n Blocks to write:  256 sectors, 736 to 991 (0x2E000 to 0x3DF00)\r\n"
     " Erases:           0x2E000 to 0x3DFFF\r\n"
     " Check value:      none, the drive compares what it reads back\r\n", {}, false},
    {"DryRunSeries27", "27", {}, {"/9", "/v", "series27_sample.s"}, {"/n"}, 0,
     "\r\nFirmware size: 4612 checksum 0563ed3b\r\n" DRY_RUN "27 series\r\n"
     " File:             series27_sample.s\r\n Image bytes:      4612\r\n"
     " Blocks to verify: 19 sectors, 0 to 18 (0x0 to 0x1200)\r\n"
     " Checksum sector:  479 at 0x1DF00\r\n Check value:      word image checksum 0563ed3b\r\n",
     {}, false},
    {"DryRunTk720", "tk720", {}, {"/m", "tk720_sample.bin"}, {"/n"}, 0,
     DRY_RUN "TK720\r\n File:             tk720_sample.bin\r\n Image bytes:      3004\r\n"
     " Blocks to write:  12 blocks, 0 to 11 (0x4000 to 0x4B00)\r\n"
     " Check value:      check word 96DFB63B\r\n", {}, false},
    {"DryRunRefusedFile", "nym", {}, {"bad.s"}, {"/n"}, 1,
     "Error (file:1) : not an S-record found\r\n", {}, false},
};
// clang-format on

// The loader's whole output with `arguments` against a fresh drive, and
// whether the drive heard anything.
std::pair<Result, bool> RunAgainst(const Tool& t, const std::vector<std::string>& arguments,
                                   std::string& portLine) {
  TempDir dir;
  for (const char* sample :
       {"nym_sample.s", "series27_sample.s", "tk720_sample.bin", "tk720_digest_sample.bin"})
    dir.Write(sample, Example(sample));
  dir.Write("bad.s", std::string("hello\n"));
  Drive drive(dir, t.family, t.sim);
  portLine = drive.PortLine();
  Result run = Load(dir, &drive, arguments);
  drive.Stop();
  return {run, !drive.Log().empty()};
}

class FieldOptions : public ::testing::TestWithParam<Tool> {};

TEST_P(FieldOptions, ChangeOnlyWhatTheyAreFor) {
  const Tool& t = GetParam();
  std::vector<std::string> arguments = t.tools;
  arguments.insert(arguments.end(), t.run.begin(), t.run.end());
  std::string portLine;
  const auto [run, heard] = RunAgainst(t, arguments, portLine);
  std::string expected;
  if (t.out == nullptr) {
    // The same run without the field options, on a drive of its own: only
    // the pseudo-terminal's name in the port line may differ.
    std::string itsPortLine;
    expected = RunAgainst(t, t.run, itsPortLine).first.out;
    const std::size_t at = expected.find(itsPortLine);
    if (at != std::string::npos) expected.replace(at, itsPortLine.size(), portLine);
  } else if (!t.sends) {
    expected = std::string(BANNER) + t.out;
  } else {
    expected = BANNER + portLine + t.out;
  }
  EXPECT_TRUE(Ran(run, t.status, expected));
  EXPECT_EQ(heard, t.sends);
  std::size_t at = 0;
  for (const std::string& line : t.err) {
    at = run.err.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << run.err.substr(0, 2000);
  }
  if (t.err.empty()) {
    EXPECT_EQ(run.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FieldOptions, ::testing::ValuesIn(TOOLS),
                         [](const auto& info) { return info.param.name; });

// /l on a fake machine: a UART at ttyS0 but none behind ttyS1, a USB adapter
// with its by-id link, an ACM modem; then a machine with no port at all.
TEST(FieldOptions, ListsTheSerialPortsOfTheMachine) {
  if (UnderWine()) GTEST_SKIP() << "tests/wine/check_exe.sh lists the registry's ports";
  TempDir root;
  namespace fs = std::filesystem;
  const fs::path tty = root.File("sys/class/tty"), usb = root.File("sys/devices/usb1/1-1");
  for (const char* port : {"ttyS0/device", "ttyS1/device", "ttyS2", "ttyACM10/device"})
    fs::create_directories(tty / port);
  root.Write("sys/class/tty/ttyS0/type", std::string("4\n"));
  root.Write("sys/class/tty/ttyS1/type", std::string("0\n"));
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  root.Write("sys/devices/usb1/1-1/manufacturer", std::string("Brisk Devices\n"));
  root.Write("sys/devices/usb1/1-1/product", std::string("USB serial cable\n"));
  fs::create_directories(tty / "ttyUSB0");
  fs::create_directory_symlink("../../../devices/usb1/1-1/1-1:1.0/ttyUSB0", tty / "ttyUSB0/device");
  fs::create_directories(root.File("dev/serial/by-id"));
  fs::create_symlink("../../ttyUSB0", root.File("dev/serial/by-id/usb-Brisk_cable-if00"));
  const auto list = [&root](const std::string& at) {
    testing::ChildProcess loader({"env", "KELVANE_SYSFS_ROOT=" + at, KELVANE_BIN, "/l", "/c/x"});
    EXPECT_TRUE(loader.Wait(std::chrono::seconds(10)));
    return Result{loader.status(), loader.Stdout(), loader.Stderr()};
  };
  EXPECT_TRUE(Ran(list(root.path()), 0,
                  std::string(BANNER) +
                      "Serial ports:\r\n"
                      "  /c/dev/serial/by-id/usb-Brisk_cable-if00 -> /dev/ttyUSB0"
                      "  (Brisk Devices USB serial cable)\r\n"
                      "  /c/dev/ttyACM10  /dev/ttyACM10\r\n  /c1              /dev/ttyS0\r\n"
                      "  /c/dev/ttyUSB0   /dev/ttyUSB0  (Brisk Devices USB serial cable)\r\n"));
  EXPECT_TRUE(Ran(list(root.File("none")), 0, BANNER + std::string("No serial ports found\r\n")));
}

}  // namespace
}  // namespace kelvane::e2e
