// Runs that are not one family's load: clearing a Nym drive, files refused, ports unopened or
// busy, a drive that vanishes or never answers, the field options and drive-sim's command line.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "tests/e2e/harness.h"
#include "tests/support/pseudo_terminal.h"

namespace kelvane::e2e {
namespace {

// /d clears the whole program area, /p the parameter sectors: all-FF sectors
// from the first one cleared, then checked; /v only checks them.
TEST(Runs, ClearsANymDrive) {
  const struct {
    std::vector<std::string> options;
    int first;         // first sector sent
    std::size_t from;  // flash cleared from here (as read back) to 0x40000
  } CLEARS[] = {{{"/d"}, 0, 0x2000}, {{"/p"}, 736, 0x30000}, {{"/d", "/v"}, 0, 0x40000}};
  for (const auto& c : CLEARS) {
    TempDir dir;
    const Bytes before(0x40800, 0x00);
    dir.Write("flash.in", before);
    Drive drive(dir, "nym", {"--flash-in", dir.File("flash.in")});
    const bool written = c.options.size() == 1;
    std::map<int, int> errors;
    for (int j = c.first; !written && j < 992; ++j) errors[j] = 256;
    EXPECT_TRUE(Ran(
        Load(dir, &drive, c.options), 0,
        Head(drive, "nym") + "Setting flash to 0xFF\r\n" +
            (written ? "Updating firmware:\r\n" + Pass("updated", "sectors", 992, c.first) + UPDATED
                     : "") +
            "Verifying firmware:\r\n" + Pass("verifyed", "sectors", 992, c.first, -1, errors) +
            (written ? VERIFIED
                     : "\r\nFirmware in the Nym7700 drive does not much the file (null)\r\n")))
        << c.options.back();
    Bytes flash = before;
    std::fill(flash.begin() + c.from, flash.begin() + 0x40000, 0xFF);
    EXPECT_TRUE(SameFlash(flash, drive.Stop())) << c.options.back();
  }
}

// ---- runs that end with status 1 before a byte is written, and say why: a
// file refused after the identity; a port that will not open, with its one
// failure line on standard output and the reason and device tried on
// standard error.

struct Ending {
  const char* name;
  const char* family;                // drive-sim's --family; nullptr: no drive
  std::vector<std::string> options;  // before the file; "PTY": a pseudo-terminal of the test's own
  const char* contents;              // of none.s; nullptr: none (a directory in Directory)
  const char* out;  // after the identity; without a drive, the port as the failure line names it
  const char* err;  // standard error; without a drive, what it holds after "Cannot open "
};

// Lines one character longer than each reader takes: the Nym reader's cut
// splits the checksum pair, the word image reader's the line end.
#define HEX_64 "0000000000000000000000000000000000000000000000000000000000000000"
#define NOT_S "Error (file:2) : not an S-record found\r\n"
#define LONGER " characters long, longer than the "
#define SHORTER " this drive family's S-record reader takes: write shorter records (for objcopy, "
#define NO_FIRMWARE "File holds no firmware records. Nothing to load.\r\n"
#define IS "The drive is model "
#define CHANGED(line, more)                              \
  "Line " #line                                          \
  " does not hold the bytes its checksum was made for: " \
  "the file was damaged or changed by hand" more "\n"

// clang-format off
const Ending ENDINGS[] = {
    {"MissingFile", "nym", {}, nullptr, "Can't open file none.s\r\n", ""},
    {"Directory", "nym", {}, nullptr, "Can't open file none.s\r\n", ""},
    {"ShortBinary", "tk720", {"/m"}, "1234567",
     "File is too short for the image header. Nothing to load.\r\n", ""},
    {"NymLineTooLong", "nym", {}, "S0030000FC\nS34500000000" HEX_64 HEX_64 "BA\r\n",
     NOT_S, "Line 2 is 142" LONGER "98" SHORTER "--srec-len=42 or less)\n"},
    {"WordImageLineTooLong", "tl3xx", {"/a"}, "S1620000" HEX_64 HEX_64
     "00000000000000000000000000000000000000000000000000000000000000" "9D\n",
     "Error (file:1) : not an S-record found\r\n", "Line 1 is 200" LONGER "198" SHORTER "--srec-len=94 or less)\n"},
    {"NymLineOneTooLong", "nym", {}, "S0030000FC\nS32F" HEX_64 "0000000000000000000000000000000\n",
     NOT_S, "Line 2 is 99" LONGER "98" SHORTER
     "--srec-len=42 or less)\n"},
    {"CarriageReturnsAlone", "27", {"/9"}, "S1050000AABB94\rS1050002CCDD50\rS9030000FC\r",
     "Error (file:1) : not an S-record found\r\n",
     "Line 1 holds records ended by a carriage return alone: end them with a line feed\n"},
    {"BinaryImageAsRecords", "nym", {}, "", "Error (file:1) : not an S-record found\r\n",
     "Line 1 holds a NUL byte, which no S-record file does: this looks like a binary image, which "
     "only the TK720 options /m and /s take\n"},
    {"HeaderAndCountOnly", "27", {"/9"}, "S0030000FC\n\nS5030000FC\n", NO_FIRMWARE, ""},
    // A digit changed (04 to 05), a line cut in the middle, a wrong Intel HEX checksum (F2 is
    // right), an ELF segment running past the file's end; Intel HEX and ELF for the TK720.
    {"ChangedDigit", "nym", {}, "S20800001001020305DD\n",
     "Error (file:1) : record checksum is DD where its bytes give DC\r\n",
     CHANGED(1, ", or it is the backup of a drive that holds such a record")},
    {"LineCutMidRecord", "tl3xx", {"/a"}, "S1050000AABB95\nS1050002CC", NOT_S,
     "Line 2 ends after 3 of the 5 bytes its count gives: the file was cut short or damaged\n"},
    {"HexChecksum", "27", {"/9"}, ":0400000001020304F3\n:00000001FF\n",
     "Error (file:1) : record checksum is F3 where its bytes give F2\r\n", CHANGED(1, "")},
    {"ElfSegmentPastItsEnd", "nym", {}, nullptr,
     "Error (file:segment 0) : segment runs past the end of the file\r\n", ""},
    {"HexForTk720", "tk720", {"/m"}, ":0400000001020304F2\n:00000001FF\n",
     "File none.s is an Intel HEX file: make a binary image of it with objcopy -O binary\r\n", ""},
    {"ElfForTk720Digest", "tk720-digest", {"/s"}, nullptr,
     "File none.s is an ELF file: make a binary image of it with objcopy -O binary\r\n", ""},
    {"RecordsForTk720", "tk720", {"/m"}, "S00600004844521B\r\nS1050000AABB94\r\n",
     "File none.s is an S-record file: load it with no family option (Nym), /a or /9\r\n", ""},
    // /w: a drive of another model is shown, then refused, whatever the run and the layout.
    {"WrongModel", "nym", {"/w771", "/w770,C04"}, "S206000000AABB94\n", IS "770, hardware revision C03; /w allows only 771, 770 revision C04\r\n", ""},
    {"WrongModelVerify", "tl3xx", {"/a", "/v", "/w310,B02"}, "S1050000AABB95\n", IS "310, hardware revision B01; /w allows only 310 revision B02\r\n", ""},
    {"WrongModelClear", "nym", {"/p", "/w771"}, nullptr, IS "770, hardware revision C03; /w allows only 771\r\n", ""},
    {"WrongRevisionIdentify27", "27", {"/9", "/i", "/W27S,D02"}, nullptr, IS "27S, hardware revision D01; /w allows only 27S revision D02\r\n", ""},
    {"WrongRevisionIdentifyDigest", "tk720-digest", {"/s", "/i", "/w72D,1.0"}, nullptr, IS "72D, hardware revision 102; /w allows only 72D revision 1.0\r\n", ""},
    {"MissingDevice", nullptr, {"/c/dev/ttyUSB-none"}, nullptr, "/dev/ttyUSB-none",
     "/dev/ttyUSB-none: no such device\n"},
    {"ComNineIsTtyS8", nullptr, {"/c9"}, nullptr, "COM9", "/dev/ttyS8: no such device\n"},
    {"ComZero", nullptr, {"/c0"}, nullptr, "COM0",
     "COM0: no such port; COM1 to COM9 are /dev/ttyS0 to /dev/ttyS8"},
    {"NotSerial", nullptr, {"/c/dev/null"}, nullptr, "/dev/null",
     "/dev/null: not a serial device\n"},
    {"RateRefused", nullptr, {"/cPTY", "/b0"}, nullptr, "PTY",
     ": the driver refuses the baud rate 0\n"},
    {"PermissionDenied", nullptr, {"/cPTY"}, nullptr, "PTY", ": permission denied; "},
};
// clang-format on

std::string WithPty(std::string text, const testing::PseudoTerminal& pty) {
  if (const std::size_t at = text.find("PTY"); at != std::string::npos)
    text.replace(at, 3, pty.slavePath());
  return text;
}

// No argument is refused; /h alone is help, as --help and -h are; --version shows the banner.
TEST(Runs, NoArgumentOrHelpAlone) {
  TempDir dir;
  EXPECT_TRUE(Ran(Load(dir, nullptr, {}), 1,
                  BANNER + std::string("S-record file with firmware is not specified\r\n")));
  for (const char* help : {"/h", "--help", "-h"}) {
    const Result run = Load(dir, nullptr, {help});
    EXPECT_TRUE(run.status == 0 && run.out.starts_with(BANNER + std::string(" Use: Kelvane ")));
  }
  EXPECT_TRUE(Ran(Load(dir, nullptr, {"--version"}), 0, BANNER));
}

class EndsWithStatusOne : public ::testing::TestWithParam<Ending> {};
TEST_P(EndsWithStatusOne, AndSaysWhy) {
  const Ending& e = GetParam();
  const std::string name = e.name;
  if (!e.family && UnderWine()) GTEST_SKIP() << "Windows words its own reasons (check_exe.sh)";
  if (name == "ComNineIsTtyS8" && std::filesystem::exists("/dev/ttyS8")) GTEST_SKIP() << "ttyS8";
  if (name == "PermissionDenied" && geteuid() == 0) GTEST_SKIP() << "root opens any device";
  TempDir dir;
  testing::PseudoTerminal pty;
  ASSERT_TRUE(name != "PermissionDenied" || chmod(pty.slavePath().c_str(), 0) == 0);
  if (name == "Directory") std::filesystem::create_directory(dir.File("none.s"));
  if (e.contents != nullptr) dir.Write("none.s", std::string(e.contents));
  if (name == "BinaryImageAsRecords") dir.Write("none.s", Example("tk720_sample.bin"));
  // arm-none-eabi-ld's output cut at 112 bytes, inside its one segment (48 bytes from 84).
  if (name.starts_with("Elf")) dir.Write("none.s", Golden("segment_past_its_end.elf"));
  std::optional<Drive> drive;
  if (e.family != nullptr) drive.emplace(dir, e.family);
  std::vector<std::string> arguments;
  for (const std::string& option : e.options) arguments.push_back(WithPty(option, pty));
  arguments.push_back("none.s");
  Result run = Load(dir, drive ? &*drive : nullptr, arguments);
  if (UnderWine()) std::erase(run.err, '\r');  // Windows' standard error is a text stream
  if (!drive) {
    EXPECT_TRUE(Ran(run, 1, BANNER + ("Failed to open " + WithPty(e.out, pty)) + " port\r\n"));
    EXPECT_TRUE(run.err.starts_with("Cannot open ")) << run.err;
    EXPECT_NE(run.err.find(e.err), std::string::npos) << run.err;
    return;
  }
  EXPECT_TRUE(Ran(run, 1, Head(*drive, e.family) + e.out));
  EXPECT_EQ(run.err, e.err);
  EXPECT_TRUE(SameFlash(Bytes(FlashSize(e.family), 0xFF), drive->Stop()));
}
INSTANTIATE_TEST_SUITE_P(Table, EndsWithStatusOne, ::testing::ValuesIn(ENDINGS), RowName);

// A paced drive, so that a load lasts about a second and can be met midway.
TEST(Runs, VanishedDriveEndsTheRun) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drive drive(dir, "nym", {"--pace", "--baud", "38400"});
  auto loader = StartLoader(dir, &drive, {"nym_sample.s"});
  ASSERT_TRUE(drive.Reached("WRITE 0x00000200"));
  drive.Kill();
  ASSERT_TRUE(loader->Wait(10s));
  EXPECT_EQ(loader->status(), 1);
  // The request in flight finds no reply, or no line to be written to.
  const std::string out = loader->Stdout();
  EXPECT_NE(out.find(" sectors updated\rFLASH update failed on sector "), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with(" : error code 16\r\n") || out.ends_with(" : error code 18\r\n"));
  // Not merely a slow drive: the line itself went away (Wine words its own errors).
  EXPECT_TRUE(UnderWine() || loader->Stderr() == drive.Name() +
                                                     ": the device went away "
                                                     "(unplugged or powered off)\n")
      << loader->Stderr();
}

// A line that hangs up a moment after its last silence, as a USB adapter's driver may notice a pull
// only then, is still told as gone: the run ends, the drive silent, and waits for the hang-up.
TEST(Runs, LineGoneJustAfterTheLastSilenceIsToldAsGone) {
  if (UnderWine()) GTEST_SKIP() << "Windows tells a pulled adapter by the failing call itself";
  TempDir dir;
  Drive drive(dir, "nym", {"--silent"});
  auto loader = StartLoader(dir, &drive, {"/r1", "nym_sample.s"});
  ASSERT_TRUE(drive.Reached("silent"));
  usleep(350000);  // past the 200 ms of silence, within the wait for the hang-up
  drive.Kill();
  ASSERT_TRUE(loader->Wait(10s));
  EXPECT_TRUE(Ran({loader->status(), loader->Stdout(), ""}, 1,
                  BANNER + drive.PortLine() + "Trying to establish link with device    1\r" +
                      "Failed to establish connection with selected device\r\n\r\n"));
  EXPECT_EQ(loader->Stderr(), drive.Name() + ": the device went away (unplugged or powered off)\n");
}

// One loader per drive, and a killed one's last reply, left on the line, is not read by the next
// run as the answer to its own first request (every later reply would be one behind).
TEST(Runs, BusyPortIsNotOpenedTwiceNorLeftToTheNextRunWithAReply) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drive drive(dir, "nym", {"--pace", "--baud", "38400"});
  auto first = StartLoader(dir, &drive, {"/d"});
  ASSERT_TRUE(drive.Reached("WRITE 0x00000200"));
  if (!UnderWine()) {  // Wine opens a COM port twice where Windows refuses
    const Result second = Load(dir, &drive, {"nym_sample.s"});
    EXPECT_TRUE(Ran(second, 1, BANNER + ("Failed to open " + drive.Name()) + " port\r\n"));
    EXPECT_TRUE(second.err.ends_with(": in use by another program\n")) << second.err;
  }
  first->Kill();
  usleep(300000);  // the last reply is on the line by now
  EXPECT_TRUE(Ran(Load(dir, &drive, {"nym_sample.s"}), 0,
                  Head(drive, "nym") + "Updating firmware:\r\n" + Pass("updated", "sectors", 13) +
                      UPDATED + "Verifying firmware:\r\n" + Pass("verifyed", "sectors", 13) +
                      VERIFIED));
}

// Every family option against every drive of another identity layout: the run stops after the
// identity (a digest option finds no reply long enough to be its identity), the drive hears
// nothing but identify requests, and the journal tells why.
TEST(Runs, FamilyOptionThatDoesNotFitTheDriveTouchesNothing) {
  const struct {
    const char *sim, *option, *file, *name;
    int layout;
  } FAMILIES[] = {{"nym", "/c", "nym_sample.s", "Nym", 0},
                  {"tl3xx", "/a", "tl3xx_sample.s", "TL3xx", 0},
                  {"tk720", "/m", "tk720_sample.bin", "TK720", 0},
                  {"27", "/9", "series27_sample.s", "27 series", 1},
                  {"tk720-digest", "/s", "tk720_digest_sample.bin", "TK720 digest", 2}};
  for (const auto& drive : FAMILIES) {
    for (const auto& option : FAMILIES) {
      if (drive.layout == option.layout) continue;  // /w tells these apart
      TempDir dir;
      dir.Write(option.file, Example(option.file));
      Drive sim(dir, drive.sim);
      // The Nym family has no option: a second port option stands in for it.
      const std::string name = std::string(option.option) + " against " + drive.sim,
                        first = option.sim == std::string("nym") ? sim.Port() : option.option;
      const Result run = Load(dir, &sim, {first, "/r2", "/jrun.jsonl", option.file});
      const bool digest = option.layout == 2;
      EXPECT_TRUE(run.status == 1 &&
                  run.out.ends_with(digest ? "Failed to establish connection with selected "
                                             "device\r\n\r\n"
                                           : "\r\nThe drive does not answer like a " +
                                                 std::string(option.name) +
                                                 " drive (no model code in its identity): it "
                                                 "may need another family option\r\n"))
          << name << "\n"
          << run.out;
      EXPECT_TRUE(
          JournalHas(JournalLines(dir.File("run.jsonl")), "kelvane",
                     {digest ? "error={\"stage\":\"link\",*" : "error={\"stage\":\"identity\",*",
                      digest ? "verdict=\"no-link\"" : "verdict=\"wrong-drive\""}))
          << name;
      sim.Stop();  // its log holds no WRITE nor READ request, only IDENTIFY ones
      const Bytes log = testing::ReadFile(dir.File("sim.log"));
      EXPECT_EQ(std::string(log.begin(), log.end()).find_first_of("WR"), std::string::npos) << name;
    }
  }
}

// A drive's identity reaches a terminal without its control bytes (no drive may send the
// terminal escape sequences), and a file or a pipe with every byte as the drive sent it.
TEST(Runs, IdentityControlBytesNeverReachATerminal) {
  if (UnderWine()) GTEST_SKIP() << "a Wine console is no pseudo-terminal";
  TempDir dir;
  // Model code ESC [ 2, hardware revision J BEL and a C1 control.
  Drive drive(dir, "nym", {"--identity-hex", "12041B5B324A078050024BC00B00"});
  testing::PseudoTerminal screen;
  ChildProcess shown(
      {"sh", "-c", "exec \"$0\" \"$@\" >" + screen.slavePath(), KELVANE_BIN, drive.Port(), "/i"},
      dir.path());
  const Bytes bytes = screen.Receive(1 << 16, 3000);
  ASSERT_TRUE(shown.Wait(30s) && shown.status() == 0);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find(" Model code:             ?[2\r"), std::string::npos) << text;
  EXPECT_NE(text.find(" Hardware revision:      J??\r"), std::string::npos) << text;
  EXPECT_EQ(text.find_first_of("\x1b\a"), std::string::npos) << text;
  EXPECT_NE(Load(dir, &drive, {"/i"})
                .out.find(" Model code:             \x1b[2\r\n"
                          " Hardware revision:      J\a\x80\r\n"),
            std::string::npos);
}

// 1000 identify attempts of 200 ms each: run by `make test-long`.
TEST(Runs, DISABLED_LONG_SilentDriveExhaustsTheAttempts) {
  TempDir dir;
  Drive drive(dir, "nym", {"--silent"});
  EXPECT_TRUE(Ran(Load(dir, &drive, {"firmware.s"}), 1,
                  BANNER + drive.PortLine() + Countdown(1000) +
                      "Failed to establish connection with selected device\r\n\r\n"));
}

// ---- the field options: a run with them prints what the same run without them prints (or, where
// they change the run, the stated text), the trace goes to standard error only, /e turns a
// mismatch into status 2, and neither /n nor a refused /r sends the drive anything.

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
  // With /jrun.jsonl among `tools`: "key=value" lines of its one line as Python's json module
  // reads it, the drive's port as <pty>; a value ending in * is a prefix, one beginning with * a
  // suffix.
  std::vector<std::string> journal = {};
};

#define REFUSED_R "Option /r takes a number of link attempts from 1 to 9999: "
#define DRY_RUN "Dry run, no port opened and nothing sent:\r\n Family:           "
#define BY_READING " Check value:      none, the drive compares what it reads back\r\n"
#define NYM_JOURNAL "port=\"<pty>\"", "device=\"<pty>\"", "baud=38400", "family=\"nym\""
#define NYM_FILE \
  "file=\"nym_sample.s\"", "file_sha256=\"" NYM_SHA256 "\"", "image_bytes=3089", "blocks=13"
#define NYM_DRIVE "drive={\"monitor_revision\":\"0412\",\"model_code\":\"770\",*"
#define TK720_SHA256 "a4f6222696b2f5cef7b47e5459395322da65dee831fa2822761ec4d157bc34d6"
#define NOT_SPECIFIED "S-record file with firmware is not specified\r\n"
#define NYM_SHA256 "8f9609f04a8803afd8f328535abdc91a0a1f8c439ad58f551ea58ab41817856a"
#define OTHER_FILE \
  "File nym_sample.s has SHA-256 " NYM_SHA256 ", not the 0123456789abcdef that /f asks for"

// clang-format off
const Tool TOOLS[] = {
    // The first identify answered late: of the two replies, the one left
    // over is dropped, not taken for the first block's.
    {"TraceLoad", "nym", {"--late", "1"}, {"nym_sample.s"}, {"/t"}, 0, nullptr,
     {"ms -> IDENTIFY  55 AA 00 00 10 10", "ms -- 200 ms of silence, no reply to IDENTIFY",
      "ms <- IDENTIFY  AA 55 28 00 10 00 38 ", "ms -- 48 bytes of a late reply discarded",
      "ms -> WRITE_BLOCK  55 AA 04 01 11 16 00 00 00 00 ",
      "ms <- WRITE_BLOCK  AA 55 00 00 11 00 11", "ms <- READ_BLOCK  AA 55 00 01 12 00 13 "}},
    {"TraceStaleReply", "nym", {"--stale-reply", "1"}, {"/v", "nym_sample.s"}, {"/t"}, 0, nullptr,
     {"ms <- WRITE_BLOCK  AA 55 00 00 11 00 11", "ms -- a reply of 0 bytes is no identity of at least 14"}},
    {"TraceBadChecksumAndNoise", "nym", {"--bad-payload-checksum", "1", "--noise", "2:3"},
     {"/v", "nym_sample.s"}, {"/T"}, 0, nullptr, {"<- IDENTIFY  AA 55 28 00 10 00 38 ",
     "(payload checksum wrong)", "ms -- 3 bytes skipped before the reply: ", "ms <- IDENTIFY"}},
    {"StrictMatch", "nym", {}, {"nym_sample.s"}, {"/e"}, 0, nullptr, {}},
    {"StrictMismatch", "nym", {}, {"/v", "nym_sample.s"}, {"/E"}, 2, nullptr, {}},
    // Valid firmware, but not this file's: the drive's digest differs from the file's.
    {"StrictDigestOtherFirmware", "tk720-digest",
     {"--identity-hex", std::string(56, '0') + "31303200373244" + std::string(154, '0') +
                            std::string(32, '1') + std::string(48, '0')},
     {"/s", "/v", "tk720_digest_sample.bin"}, {"/e", "/jrun.jsonl"}, 2, nullptr, {}, true,
     {"drive=*,\"md5\":\"" + std::string(32, '1') + "\"}"}},
    // The sectors match but the drive will not boot: a mismatch for a script.
    {"StrictChecksumSector", "27", {"--stuck", "0x1DF00:0"}, {"/9", "series27_sample.s"}, {"/e"},
     2, nullptr, {}},
    {"StrictFailure", "tl3xx", {"--write-status", "2:0x21"}, {"/a", "tl3xx_sample.s"}, {"/e"}, 1,
     nullptr, {}},
    // The journal: one line, keys in order, what the run did; standard output unchanged.
    {"JournalLoad", "nym", {}, {"nym_sample.s"}, {"/jrun.jsonl"}, 0, nullptr, {}, true,
     {"program=\"kelvane\"", NYM_JOURNAL, "operation=\"load\"", NYM_FILE, NYM_DRIVE,
      "verdict=\"verified\"", "error=null", "status=0"}},
    {"JournalMismatch", "nym", {}, {"/v", "nym_sample.s"}, {"/e", "/jrun.jsonl"}, 2, nullptr, {},
     true, {NYM_JOURNAL, "operation=\"verify\"", NYM_FILE, "verdict=\"mismatch\"", "error=null",
     "status=2"}},
    {"JournalRefusedWrite", "tl3xx", {"--write-status", "2:0x21"}, {"/a", "tl3xx_sample.s"},
     {"/Jrun.jsonl"}, 1, nullptr, {}, true, {"family=\"tl3xx\"", "blocks=1",
     "verdict=\"failed\"", "error={\"stage\":\"write\",\"block\":1,\"code\":33,"
     "\"text\":\"FLASH update failed on sector 1\"}", "status=1"}},
    {"JournalNoLink", "nym", {"--silent"}, {"nym_sample.s"}, {"/r1", "/jrun.jsonl"}, 1,
     "Trying to establish link with device    1\rFailed to establish connection with selected "
     "device\r\n\r\n", {}, true, {"drive=null", "blocks=0", "verdict=\"no-link\"", "error={\"stage\":\"link\","
     "\"text\":\"Failed to establish connection with selected device\"}", "status=1"}},
    // A drive's bytes and a user's file name are escaped, never copied into the line.
    {"JournalEscapes", "nym", {"--identity-hex", "1204225C01C3A97F50024BC00B00"},
     {"/a", "n\"\\\xC3\xA9.s"}, {"/jrun.jsonl"}, 1, nullptr, {}, true,
     {"file=\"n\\\"\\\\\\u00e9.s\"", "file_sha256=null", "image_bytes=null",
      "drive={\"monitor_revision\":\"0412\",\"model_code\":\"\\\"\\\\\\u0001\","
      "\"hardware_revision\":\"\\u00c3\\u00a9\\u007f\",\"current_capability\":\"02.50 Amp\","
      "\"serial_number\":\"770123\",\"raw\":\"1204225C01C3A97F50024BC00B00\"}",
      "verdict=\"file-refused\"", "error={\"stage\":\"file\",\"text\":\"Can't open file "
      "n\\\"\\\\\\u00e9.s\"}"}},
    {"JournalPortFails", "nym", {}, {"nym_sample.s"}, {"/jrun.jsonl", "/c/dev/ttyUSB-none"}, 1,
     "Failed to open /dev/ttyUSB-none port\r\n", {"Cannot open /dev/ttyUSB-none"}, false,
     {"port=\"/dev/ttyUSB-none\"", "device=\"/dev/ttyUSB-none\"", "drive=null",
      "verdict=\"port-failed\"", "error={\"stage\":\"port\",\"text\":\"Failed to open "
      "/dev/ttyUSB-none port: Cannot open /dev/ttyUSB-none*", "status=1"}},
    // A backup records the file it wrote, a backup and load a line for each; a bare identify no
    // file at all.
    {"JournalBackup", "nym", {"--flash-in", "loaded.flash"}, {"/uback.s"}, {"/jrun.jsonl"}, 0,
     nullptr, {}, true, {"operation=\"backup\"", "file=\"back.s\"", "file_sha256=\"*", "blocks=13",
      "verdict=\"verified\"", "error=null", "status=0"}},
    {"JournalBackupAndLoad", "nym", {"--flash-in", "loaded.flash"}, {"/u", "back.s", "nym_sample.s"},
     {"/jrun.jsonl"}, 0, nullptr, {}, true, {"operation=\"backup\"", "file=\"back.s\"",
      "blocks=13", "verdict=\"verified\"", "--", "operation=\"load\"", NYM_FILE,
      "verdict=\"verified\"", "status=0"}},
    {"JournalBackupOfNothing", "nym", {}, {"/uback.s"}, {"/jrun.jsonl"}, 1, nullptr, {}, true,
     {"operation=\"backup\"", "file=null", "verdict=\"failed\"", "error={\"stage\":\"read\","
      "\"text\":\"The drive holds no firmware: its image area is empty (all 0xFF)\"}"}},
    {"JournalIdentify", "nym", {}, {"/i", "nym_sample.s"}, {"/jrun.jsonl"}, 0, nullptr, {}, true,
     {"operation=\"identify\"", "file=null", "blocks=null", NYM_DRIVE, "verdict=\"verified\"",
      "status=0"}},
    // A line must not flash a drive it cannot record.
    {"JournalUnwritable", "nym", {}, {"nym_sample.s"}, {"/jno/such/dir/run.jsonl"}, 1, "",
     {"Cannot open the journal no/such/dir/run.jsonl for appending: "}, false},
    {"AttemptsUpperBound", "nym", {}, {"nym_sample.s"}, {"/R9999"}, 0, nullptr, {}},
    {"AttemptsWithAZero", "nym", {}, {"nym_sample.s"}, {"/r10"}, 0, nullptr, {}},
    {"AttemptsZero", "nym", {}, {"nym_sample.s"}, {"/r0"}, 1, REFUSED_R "/r0\r\n", {}, false},
    {"AttemptsTooMany", "nym", {}, {"nym_sample.s"}, {"/r10000"}, 1, REFUSED_R "/r10000\r\n", {},
     false},
    {"AttemptsNotANumber", "nym", {}, {"nym_sample.s"}, {"/r5x"}, 1, REFUSED_R "/r5x\r\n", {},
     false},
    {"DryRunClearParameters", "nym", {}, {"/p"}, {"/N"}, 0,
     "Setting flash to 0xFF\r\n" DRY_RUN "Nym\r\n File:             none, the flash is cleared\r\n"
     " Image bytes:      65536\r\n"
     " Blocks to write:  256 sectors, 737 to 992 of 992 (0x2E000 to 0x3DF00)\r\n"
     " Erases:           0x2E000 to 0x3DFFF\r\n" BY_READING, {}, false},
    {"DryRunSeries27", "27", {}, {"/9", "/v", "/d", "series27_sample.s"}, {"/n"}, 0,
     "\r\nFirmware size: 4612 checksum 0563ed3b\r\n" DRY_RUN "27 series\r\n"
     " File:             series27_sample.s\r\n Format:           S-records S0 S1 S2 S8\r\n"
     " Data at:          0x0 to 0xBFF, 0x1000 to 0x11FF\r\n Image bytes:      4612\r\n"
     " Blocks to verify: 19 sectors, 1 to 19 of 19 (0x0 to 0x1200)\r\n"
     " Checksum sector:  479 at 0x1DF00\r\n Check value:      word image checksum 0563ed3b\r\n",
     {}, false},
    {"DryRunTk720", "tk720", {}, {"/m", "tk720_sample.bin"}, {"/n", "/f" TK720_SHA256}, 0,
     DRY_RUN "TK720\r\n File:             tk720_sample.bin\r\n Format:           binary image\r\n"
     " Image bytes:      3004\r\n"
     " Blocks to write:  12 blocks, 1 to 12 of 12 (0x4000 to 0x4B00)\r\n"
     " Check value:      check word 96DFB63B\r\n SHA-256:          " TK720_SHA256 ", as /f asks\r\n",
     {}, false},
    {"DryRunBackup", "tl3xx", {}, {"/a", "/uold.s"}, {"/n"}, 0, DRY_RUN "TL3xx\r\n Backup file:      old.s\r\n"
     " Blocks to read:   up to 516 sectors, 1 to 516 (0x0 to 0x10180), all: the image ends at the last"
     " place that holds its checksum\r\n", {}, false},
    {"DryRunRefusedFile", "nym", {}, {"bad.s"}, {"/n"}, 1, NO_FIRMWARE, {}, false},
    // A clear stands in for the file only on a Nym drive.
    {"ClearOfTl3xxNeedsAFile", "tl3xx", {}, {"/a", "/d"}, {}, 1, NOT_SPECIFIED, {}, false},
    {"ClearOfTk720NeedsAFile", "tk720", {}, {"/m", "/D"}, {}, 1, NOT_SPECIFIED, {}, false},
    {"ClearOf27NeedsAFile", "27", {}, {"/9", "/p"}, {}, 1, NOT_SPECIFIED, {}, false},
    {"DryClearOfTl3xxNeedsAFile", "tl3xx", {}, {"/a", "/d"}, {"/n"}, 1, NOT_SPECIFIED, {}, false},
    // /f: the file whose SHA-256 is, or begins with, the value; any other is refused unopened.
    {"PinnedFile", "nym", {}, {"nym_sample.s"}, {"/f" NYM_SHA256}, 0, nullptr, {}},
    {"PinnedPrefixUpperCase", "nym", {}, {"nym_sample.s"}, {"/F8F9609F04A8803AF"}, 0, nullptr, {}},
    {"PinnedOtherFile", "nym", {}, {"nym_sample.s"}, {"/f0123456789abcdef", "/jrun.jsonl"}, 1,
     OTHER_FILE "\r\n", {}, false, {"verdict=\"file-refused\"", "error={\"stage\":\"file\","
     "\"text\":\"" OTHER_FILE "\"}", "drive=null", "status=1"}},
    {"PinnedOtherFileDryRun", "nym", {}, {"nym_sample.s"}, {"/n", "/f0123456789abcdef"}, 1, OTHER_FILE "\r\n", {}, false},
    // /w: the drives a run may touch; the others are shown, then refused.
    {"AllowedModel", "nym", {}, {"nym_sample.s"}, {"/w771", "/W770"}, 0, nullptr, {}},
    {"AllowedModelAndRevision", "27", {}, {"/9", "/v", "series27_sample.s"}, {"/w27S,D01"}, 0, nullptr, {}},
    {"AllowedDigestDrive", "tk720-digest", {}, {"/s", "tk720_digest_sample.bin"}, {"/w72D,102"}, 0, nullptr, {}},
    // A rate typed with more than digits is taken as ever, and said back as read.
    {"SaysBackTheRate", "nym", {}, {"nym_sample.s"}, {"/b38400bd"}, 0, nullptr,
     {"Option /b38400bd is read as 38400 baud, what follows the digits left out"}},
};
// clang-format on

// The loader's output with `arguments` against a fresh drive, the terminal in its port line read
// as <pty> (runs on two drives compare whole), whether the drive heard a byte, and the journal.
struct Against {
  Result run;
  bool heard = false;
  std::string journal;
};
Against RunAgainst(const Tool& t, const std::vector<std::string>& arguments) {
  TempDir dir;
  for (const char* sample : {"nym_sample.s", "tl3xx_sample.s", "series27_sample.s",
                             "tk720_sample.bin", "tk720_digest_sample.bin"})
    dir.Write(sample, Example(sample));
  dir.Write("bad.s", std::string());
  dir.Write("loaded.flash", Holding("nym", 0x2000, Golden("nym_sample.stream")));
  Drive drive(dir, t.family, t.sim);
  Against against{Load(dir, &drive, arguments), false, ""};
  Result& run = against.run;
  drive.Stop();
  against.heard = drive.Heard();
  if (run.out.find(drive.PortLine()) == std::strlen(BANNER))
    run.out.replace(std::strlen(BANNER), drive.Name().size(), "<pty>");
  against.journal = JournalLines(dir.File("run.jsonl"));
  for (std::size_t at; (at = against.journal.find('"' + drive.Name() + '"')) != std::string::npos;)
    against.journal.replace(at + 1, drive.Name().size(), "<pty>");
  return against;
}

class FieldOptions : public ::testing::TestWithParam<Tool> {};
TEST_P(FieldOptions, ChangeOnlyWhatTheyAreFor) {
  const Tool& t = GetParam();
  std::vector<std::string> arguments = t.tools;
  arguments.insert(arguments.end(), t.run.begin(), t.run.end());
  const auto [run, heard, journal] = RunAgainst(t, arguments);
  // Unless stated, what the same run without the field options prints.
  const std::string expected =
      t.out == nullptr
          ? RunAgainst(t, t.run).run.out
          : BANNER + std::string(t.sends ? "<pty> open at 38400 baud\r\n" : "") + t.out;
  EXPECT_TRUE(Ran(run, t.status, expected));
  EXPECT_EQ(heard, t.sends);
  std::size_t at = 0;
  for (const std::string& line : t.err) {
    at = run.err.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << run.err.substr(0, 2000);
  }
  EXPECT_TRUE(!t.err.empty() || run.err.empty()) << run.err;
  EXPECT_EQ(journal.empty(), t.journal.empty()) << journal;
  if (t.journal.empty()) return;
  EXPECT_TRUE(JournalHas(journal, "kelvane", t.journal));
}
INSTANTIATE_TEST_SUITE_P(Table, FieldOptions, ::testing::ValuesIn(TOOLS), RowName);

// /l on a fake machine: a UART at ttyS0 but none behind ttyS1 or ttyS2, a USB adapter
// with its by-id link, an ACM modem; then a machine with no port at all.
TEST(FieldOptions, ListsTheSerialPortsOfTheMachine) {
  if (UnderWine()) GTEST_SKIP() << "tests/wine/check_exe.sh lists the registry's ports";
  TempDir root;
  namespace fs = std::filesystem;
  const fs::path tty = root.File("sys/class/tty"), usb = root.File("sys/devices/usb1/1-1");
  for (const char* port : {"ttyS0/device", "ttyS1/device", "ttyS2", "ttyACM10/device", "ttyUSB0",
                           "tty1/device"})  // tty1: a console, no serial port
    fs::create_directories(tty / port);
  for (const char* type : {"ttyS0/type 4", "ttyS1/type 0", "ttyS2/type 4"})  // ttyS2: no device
    root.Write("sys/class/tty/" + std::string(type, 10), std::string(type + 11) + "\n");
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  root.Write("sys/devices/usb1/1-1/manufacturer", "Brisk Devices\n");
  root.Write("sys/devices/usb1/1-1/product", "USB serial cable \n");  // blanks as some makers pad
  fs::create_directory_symlink("../../../devices/usb1/1-1/1-1:1.0/ttyUSB0", tty / "ttyUSB0/device");
  fs::create_directories(root.File("dev/serial/by-id"));
  fs::create_symlink("../../ttyUSB0", root.File("dev/serial/by-id/usb-Brisk_cable-if00"));
  const auto list = [](const std::string& at) {
    ChildProcess loader({"env", "KELVANE_SYSFS_ROOT=" + at, KELVANE_BIN, "/l", "/c/x"});
    EXPECT_TRUE(loader.Wait(10s));
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

// ---- drive-sim's command line, as a user relies on it.

struct SimLine {
  const char* name;
  std::vector<std::string> arguments;
  int status;  // -1: it serves (a load of the Nym sample when `logged` is given), and is stopped
  const char* says;              // on standard error (standard output for --version)
  const char* logged = nullptr;  // on standard output after the terminal's path
};

// clang-format off
const SimLine SIM_LINES[] = {
    {"Version", {"--version"}, 0, "drive-sim 2.03\n"},
    {"BaudWithoutPace", {"--baud", "14400"}, 2, "--baud needs --pace"},
    {"AnyBaudPaced", {"--baud", "14400", "--pace"}, -1, "served 0 requests, injected 0 faults"},
    {"SlowPaceWarned", {"--baud", "9600", "--pace"}, -1, "takes 290 ms on the wire"},
    {"UnknownFamily", {"--family", "nym2"}, 2, "--family: 'nym2' is not a family"},
    {"StuckOutsideTheFlash", {"--stuck", "0x40800:0"}, 2, "lies outside the 0x40800-byte flash"},
    {"FlashOutNowhere", {"--flash-out", "/none/f"}, 2, "--flash-out: cannot write /none/f: No such"},
    {"LogsAndSumsUp", {"--log", "-", "--write-status", "2:0x22"}, -1,
     "served 3 requests, injected 1 faults; flash saved to ",
     "IDENTIFY status 0\nWRITE 0x00000000 256 status 0\nWRITE 0x00000100 256 status 34\n"},
};
// clang-format on

class DriveSimLine : public ::testing::TestWithParam<SimLine> {};
TEST_P(DriveSimLine, IsTakenOrRefused) {
  const SimLine& line = GetParam();
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  std::vector<std::string> argv = {DRIVE_SIM_BIN, "--flash-out", dir.File("flash")};
  argv.insert(argv.end(), line.arguments.begin(), line.arguments.end());
  ChildProcess sim(argv);
  const bool serves = line.status < 0;
  ASSERT_TRUE(!serves || sim.WaitForStdout("\n", 10s));
  const std::string pty = sim.Stdout().substr(0, sim.Stdout().find('\n'));
  ASSERT_TRUE(line.logged == nullptr ||
              ChildProcess({KELVANE_BIN, "/c" + pty, "nym_sample.s"}, dir.path()).Wait(30s));
  if (serves) sim.Signal(SIGTERM);
  ASSERT_TRUE(sim.Wait(10s));
  EXPECT_EQ(sim.status(), std::max(line.status, 0));
  const std::string said = line.status == 0 ? sim.Stdout() : sim.Stderr();
  EXPECT_NE(said.find(line.says), std::string::npos) << said;
  if (line.logged == nullptr) return;
  EXPECT_EQ(sim.Stdout(), pty + "\n" + line.logged);
  EXPECT_NE(said.find(line.says + dir.File("flash")), std::string::npos) << said;
}
INSTANTIATE_TEST_SUITE_P(Options, DriveSimLine, ::testing::ValuesIn(SIM_LINES), RowName);

}  // namespace
}  // namespace kelvane::e2e
