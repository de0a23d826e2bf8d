#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "unit_support.h"

namespace kelvane {
namespace {

const std::string USAGE =
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

// The options that differ from the defaults, as "port=3 file=fw.s".
std::string Describe(const RunOptions& o) {
  std::string d;
  const auto add = [&](const std::string& field) { d += (d.empty() ? "" : " ") + field; };
  if (o.portNumber != 1) add("port=" + std::to_string(o.portNumber));
  if (o.baudRate != 38400) add("baud=" + std::to_string(o.baudRate));
  if (o.family != DeviceFamily::Nym) add("family=" + std::to_string(static_cast<int>(o.family)));
  if (o.verifyOnly) add("verify");
  if (o.clearMode != ClearMode::None) add("clear=" + std::to_string(static_cast<int>(o.clearMode)));
  if (o.fileName) add("file=" + *o.fileName);
  if (o.devicePath) add("device=" + *o.devicePath);
  return d;
}

constexpr PathRule P = PathRule::Posix;
constexpr PathRule W = PathRule::Windows;

TEST(CommandLine, ReadOptions) {
  struct Case {
    PathRule rule;
    std::vector<const char*> arguments;  // after the program's name
    std::string options;
    std::string printed = "";  // the usage screen at its end means help was shown
  };
  const Case cases[] = {
      {W, {"/C3"}, "port=3"},
      {P, {"/c32"}, "port=3"},
      {P, {"/c"}, "port=-48"},
      {W, {"/c\xE9"}, "port=-71"},
      {W, {"/c2", "/c5"}, "port=5"},
      {P, {nullptr, "fw.s"}, "file=fw.s"},
      {P, {"/b115200"}, "baud=115200"},
      {W, {"/B 9600x"}, "baud=9600"},
      {P, {"/b99999999999999999999"}, "baud=" + std::to_string(INT_MAX)},
      {W, {"/b-2147483649"}, "baud=" + std::to_string(INT_MIN)},
      {P, {"/verify"}, "verify"},
      {P, {"/A"}, "family=1"},
      {W, {"/9xyz"}, "family=3"},
      {P, {"/S"}, "family=4"},
      {P, {"/a", "/m"}, "family=2"},
      {P, {"/dx"}, "clear=1"},
      {W, {"/d", "/P"}, "clear=2"},
      {P, {"-v", "v"}, "file=v"},
      {P, {"/x", "fw.s"}, "file=fw.s", "Unknown option: /x\r\n"},
      {W, {"/"}, "", "Unknown option: /\r\n"},
      {P, {"/x", "/?", "fw.s", "/c7"}, "", "Unknown option: /x\r\n" + USAGE},
      {W, {"/a", "/h", "/m", "fw.s"}, "family=1", USAGE},
      // On POSIX a second "/" makes an absolute file path, except after /c.
      {P, {"/home/user/fw.s"}, "file=/home/user/fw.s"},
      {P, {"/h/fw.s", "/d"}, "clear=1 file=/h/fw.s"},
      {W, {"/verify/fw.s"}, "verify"},
      {W, {"/home/user/fw.s"}, "", USAGE},
      {W, {"/opt/fw.s"}, "", "Unknown option: /opt/fw.s\r\n"},
      {P, {"/c/dev/ttyUSB0"}, "device=/dev/ttyUSB0"},
      {P, {"/c/dev/ttyUSB0", "/c4"}, "port=4"},
      {W, {"/c4", "/c/dev/pts/7"}, "port=4 device=/dev/pts/7"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"/h"};  // the program's name is never read
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    std::string name = c.rule == P ? "POSIX" : "Windows";
    for (const char* a : c.arguments) name += std::string(" ") + (a ? a : "(none)");
    RunOptions options;
    unit::Output out;
    const OptionsOutcome outcome = ReadOptions(argv, c.rule, options, out.get());
    const bool help = c.printed.ends_with(USAGE);
    EXPECT_EQ(outcome, help ? OptionsOutcome::HelpShown : OptionsOutcome::Run) << name;
    EXPECT_EQ(Describe(options), c.options) << name;
    EXPECT_EQ(out.text(), c.printed) << name;
  }
}

}  // namespace
}  // namespace kelvane
