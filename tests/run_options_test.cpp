#include "driver/run_options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;

const std::string kUsage =
    " Use: Kelvane [options] filename\r\n"
    "\r\n"
    "    /cX     - COM port number               (default 1)\r\n"
    "    /bXXXXX - Baud rate                     (default 38400)\r\n"
    "    /v      - Only verify firmware          (default load and verify)\r\n"
    "    /a      - TL3xx family firmware         (defaults to Nym family)\r\n"
    "    /9      - 27 series family firmware     (defaults to Nym family)\r\n"
    "    /m      - TK720 family firmware *       (defaults to Nym family)\r\n"
    "    /s      - new TK720 firmware with md5 * (defaults to Nym family)\r\n"
    "    /d      - clear entire flash\r\n"
    "    /p      - clear parameters section only\r\n"
    "    /h/?    - This help screen\r\n"
    "\r\n"
    "    * requires binary image file. Not S-record !\r\n";

struct Expected {
  int portNumber = 1;
  int baudRate = 38400;
  DeviceFamily family = DeviceFamily::Nym;
  bool verifyOnly = false;
  ClearMode clearMode = ClearMode::None;
  std::optional<std::string> fileName;
  std::optional<std::string> devicePath;
  OptionsOutcome outcome = OptionsOutcome::Run;
  std::string printed;
};

struct OptionCase {
  const char* name;
  PathRule rule;
  std::vector<const char*> arguments;  // without the program's name
  Expected expected;
};

Expected File(const char* name) {
  Expected e;
  e.fileName = name;
  return e;
}

Expected Port(int port) {
  Expected e;
  e.portNumber = port;
  return e;
}

Expected Baud(int rate) {
  Expected e;
  e.baudRate = rate;
  return e;
}

Expected Family(DeviceFamily family) {
  Expected e;
  e.family = family;
  return e;
}

Expected Clear(ClearMode mode) {
  Expected e;
  e.clearMode = mode;
  return e;
}

Expected Device(const char* path) {
  Expected e;
  e.devicePath = path;
  return e;
}

Expected Help(const std::string& before) {
  Expected e;
  e.outcome = OptionsOutcome::HelpShown;
  e.printed = before + kUsage;
  return e;
}

Expected Printed(Expected e, const std::string& printed) {
  e.printed = printed;
  return e;
}

Expected Verify() {
  Expected e;
  e.verifyOnly = true;
  return e;
}

constexpr PathRule P = PathRule::Posix;
constexpr PathRule W = PathRule::Windows;

const std::vector<OptionCase>& OptionCases() {
  static const std::vector<OptionCase> cases = {
      {"unknown option then file",
       P,
       {"/x", "fw.s"},
       Printed(File("fw.s"), "Unknown option: /x\r\n")},
      {"unknown option printed whole",
       W,
       {"/xyz"},
       Printed(Expected{}, "Unknown option: /xyz\r\n")},
      {"lone slash is an unknown option", P, {"/"}, Printed(Expected{}, "Unknown option: /\r\n")},
      {"lone slash, Windows", W, {"/"}, Printed(Expected{}, "Unknown option: /\r\n")},
      {"upper-case C", W, {"/C3"}, Port(3)},
      {"lower-case c", W, {"/c3"}, Port(3)},
      {"port digit then junk", P, {"/c3xyz"}, Port(3)},
      {"only the third character counts", P, {"/c12"}, Port(1)},
      {"bare /c reads the terminator", P, {"/c"}, Port(-48)},
      {"port letter taken as a code", W, {"/cA"}, Port('A' - '0')},
      {"port character above 127 reads as negative", W, {"/c\xE9"}, Port(-23 - '0')},
      {"last /c wins", W, {"/c2", "/c5"}, Port(5)},
      {"verify spelled out", P, {"/verify"}, Verify()},
      {"upper-case verify", W, {"/V"}, Verify()},
      {"clear with junk", P, {"/dx"}, Clear(ClearMode::EntireFlash)},
      {"parameters clear", P, {"/P"}, Clear(ClearMode::ParametersSection)},
      {"last clear wins: /d /p", P, {"/d", "/p"}, Clear(ClearMode::ParametersSection)},
      {"last clear wins: /p /d", W, {"/p", "/d"}, Clear(ClearMode::EntireFlash)},
      {"dash-v is a file name", P, {"-v"}, File("-v")},
      {"bare v is a file name", P, {"v"}, File("v")},
      {"empty argument is a file name", W, {""}, File("")},
      {"two file names: the last is used", P, {"a.s", "b.s"}, File("b.s")},
      {"options around the file",
       W,
       {"/v", "fw.s", "/c2"},
       [] {
         Expected e = File("fw.s");
         e.verifyOnly = true;
         e.portNumber = 2;
         return e;
       }()},
      {"TL3xx", P, {"/a"}, Family(DeviceFamily::TL3xx)},
      {"TL3xx upper case", W, {"/A"}, Family(DeviceFamily::TL3xx)},
      {"27 series", P, {"/9"}, Family(DeviceFamily::Series27)},
      {"27 series with junk", P, {"/9xyz"}, Family(DeviceFamily::Series27)},
      {"TK720", W, {"/M"}, Family(DeviceFamily::TK720)},
      {"TK720 digest", P, {"/s"}, Family(DeviceFamily::TK720Digest)},
      {"last family wins: /a /m", P, {"/a", "/m"}, Family(DeviceFamily::TK720)},
      {"last family wins: /m /a", P, {"/m", "/a"}, Family(DeviceFamily::TL3xx)},
      {"help alone", P, {"/h"}, Help("")},
      {"help upper case", W, {"/H"}, Help("")},
      {"question mark", P, {"/?"}, Help("")},
      {"help after unknown, later args unread",
       P,
       {"/x", "/?", "fw.s", "/y", "/c7"},
       Help("Unknown option: /x\r\n")},
      {"help spelled out", W, {"/help"}, Help("")},
      {"baud rate", P, {"/b115200"}, Baud(115200)},
      {"baud upper case", W, {"/B19200"}, Baud(19200)},
      {"baud without digits", P, {"/b"}, Baud(0)},
      {"baud letters", P, {"/bfast"}, Baud(0)},
      {"baud leading blanks", P, {"/b  9600"}, Baud(9600)},
      {"baud negative", P, {"/b-5"}, Baud(-5)},
      {"baud plus sign", P, {"/b+57600"}, Baud(57600)},
      {"baud digits then junk", W, {"/b4800baud"}, Baud(4800)},
      {"baud too large is clamped", P, {"/b99999999999999999999"}, Baud(INT_MAX)},
      {"baud too small is clamped", P, {"/b-99999999999999999999"}, Baud(INT_MIN)},
      {"baud just above int", W, {"/b2147483648"}, Baud(INT_MAX)},
      {"last baud wins", P, {"/b9600", "/b1200"}, Baud(1200)},
      {"device path", P, {"/c/dev/ttyUSB0"}, Device("/dev/ttyUSB0")},
      {"device path, Windows rule", W, {"/c/dev/pts/7"}, Device("/dev/pts/7")},
      {"device path upper-case C", P, {"/C/dev/ttyS0"}, Device("/dev/ttyS0")},
      {"Windows device namespace", W, {"/c\\\\.\\COM12"}, Device("\\\\.\\COM12")},
      {"Windows device namespace on POSIX", P, {"/c\\\\.\\COM12"}, Device("\\\\.\\COM12")},
      {"port number after a path replaces it", P, {"/c/dev/ttyUSB0", "/c4"}, Port(4)},
      {"path after a port number",
       P,
       {"/c4", "/c/dev/ttyUSB1"},
       [] {
         Expected e = Device("/dev/ttyUSB1");
         e.portNumber = 4;
         return e;
       }()},
      {"POSIX absolute path is a file", P, {"/home/user/fw.s"}, File("/home/user/fw.s")},
      {"POSIX path that starts like an option", P, {"/verify/fw.s"}, File("/verify/fw.s")},
      {"POSIX path that starts like help", P, {"/h/fw.s"}, File("/h/fw.s")},
      {"POSIX double slash", P, {"//"}, File("//")},
      {"POSIX: /b with a path is a file", P, {"/b/9600"}, File("/b/9600")},
      {"Windows: the same path is an option", W, {"/verify/fw.s"}, Verify()},
      {"Windows: a path reaching help", W, {"/home/user/fw.s"}, Help("")},
      {"Windows: an unknown path option",
       W,
       {"/tmp/fw.s"},
       Printed(Expected{}, "Unknown option: /tmp/fw.s\r\n")},
      {"POSIX file path and clear",
       P,
       {"/d", "/tmp/x/fw.s"},
       [] {
         Expected e = File("/tmp/x/fw.s");
         e.clearMode = ClearMode::EntireFlash;
         return e;
       }()},
  };
  return cases;
}

TEST(ReadOptions, FollowsEveryOptionRule) {
  for (const OptionCase& c : OptionCases()) {
    SCOPED_TRACE(c.name);
    std::vector<const char*> argv{"kelvane"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    RunOptions options;
    CapturedOutput out;
    const OptionsOutcome outcome = ReadOptions(argv, c.rule, options, out.stream());
    const Expected& e = c.expected;
    EXPECT_EQ(outcome, e.outcome);
    EXPECT_EQ(options.portNumber, e.portNumber);
    EXPECT_EQ(options.baudRate, e.baudRate);
    EXPECT_EQ(options.family, e.family);
    EXPECT_EQ(options.verifyOnly, e.verifyOnly);
    EXPECT_EQ(options.clearMode, e.clearMode);
    EXPECT_EQ(options.fileName, e.fileName);
    EXPECT_EQ(options.devicePath, e.devicePath);
    EXPECT_EQ(out.text(), e.printed);
  }
}

TEST(ReadOptions, ProgramNameIsNeverRead) {
  // Entry 0 is the program's own name, even when it looks like an option.
  const std::vector<const char*> argv{"/h"};
  RunOptions options;
  CapturedOutput out;
  EXPECT_EQ(ReadOptions(argv, PathRule::Posix, options, out.stream()), OptionsOutcome::Run);
  EXPECT_EQ(out.text(), "");
  EXPECT_FALSE(options.fileName);
}

TEST(ReadOptions, NothingAfterHelpIsApplied) {
  const std::vector<const char*> argv{"kelvane", "/a", "/h", "/m", "fw.s"};
  RunOptions options;
  CapturedOutput out;
  ASSERT_EQ(ReadOptions(argv, PathRule::Windows, options, out.stream()), OptionsOutcome::HelpShown);
  EXPECT_EQ(options.family, DeviceFamily::TL3xx);
  EXPECT_FALSE(options.fileName);
}

TEST(FileNameForDisplay, ShowsNullWhenAbsent) {
  RunOptions options;
  EXPECT_STREQ(FileNameForDisplay(options), "(null)");
  options.fileName = "fw.s";
  EXPECT_STREQ(FileNameForDisplay(options), "fw.s");
  options.fileName = "";
  EXPECT_STREQ(FileNameForDisplay(options), "");
}

TEST(PrintBanner, ExactBytes) {
  CapturedOutput out;
  PrintBanner(out.stream());
  EXPECT_EQ(out.text(),
            "\r\n Ostrel firmware loader\r\n"
            "                                            Version 2.03\r\n\r\n");
}

TEST(PrintUsage, ExactBytesAndColumns) {
  CapturedOutput out;
  PrintUsage(out.stream());
  const std::string usage = out.text();
  EXPECT_EQ(usage, kUsage);
  // Options in column 5, dashes in column 13, defaults in column 45.
  std::size_t start = 0;
  int line = 0;
  while (start < usage.size()) {
    const std::size_t end = usage.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string text = usage.substr(start, end - start);
    ++line;
    if (line >= 3 && line <= 12) {
      EXPECT_EQ(text[4], '/') << text;
      EXPECT_EQ(text[12], '-') << text;
    }
    if (line >= 3 && line <= 9) {
      EXPECT_EQ(text[44], '(') << text;
    }
    start = end + 2;
  }
  EXPECT_EQ(line, 14);
}

}  // namespace
}  // namespace kelvane
