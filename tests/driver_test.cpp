#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/drive_families.h"
#include "driver/identity_records.h"
#include "unit_support.h"

// What the loader reads from its command line and prints of the drive.
namespace kelvane {
namespace {

using unit::Bytes;
using unit::Cat;
using unit::Hex;

const std::string USAGE =
    " Use: Kelvane [options] filename\r\n\r\n"
    "    /cX     - COM port number               (default 1)\r\n"
    "    /bXXXXX - Baud rate                     (default 38400)\r\n"
    "    /v      - Only verify firmware          (default load and verify)\r\n"
    "    /a      - TL3xx family firmware         (defaults to Nym family)\r\n"
    "    /9      - 27 series family firmware     (defaults to Nym family)\r\n"
    "    /m      - TK720 family firmware *       (defaults to Nym family)\r\n"
    "    /s      - new TK720 firmware with md5 * (defaults to Nym family)\r\n"
    "    /d      - clear entire flash\r\n"
    "    /p      - clear parameters section only\r\n"
    "    /h/?    - This help screen\r\n\r\n"
    "    * requires binary image file. Not S-record !\r\n";

// The options that differ from the defaults, as " port=3 file=fw.s".
std::string Describe(const RunOptions& o) {
  const auto field = [](bool set, const std::string& text) { return set ? " " + text : ""; };
  return field(o.portNumber != 1, "port=" + std::to_string(o.portNumber)) +
         field(o.baudRate != 38400, "baud=" + std::to_string(o.baudRate)) +
         field(o.family != DeviceFamily::Nym, "family=" + std::to_string(int(o.family))) +
         field(o.verifyOnly, "verify") +
         field(o.clearMode != ClearMode::None, "clear=" + std::to_string(int(o.clearMode))) +
         field(o.fileName.has_value(), "file=" + o.fileName.value_or("")) +
         field(o.devicePath.has_value(), "device=" + o.devicePath.value_or("")) +
         field(o.backupFileName.has_value(), "backup=" + o.backupFileName.value_or("")) +
         field(o.identifyOnly, "identify");
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
      {W, {"/c2", "/c5"}, "port=5"},
      {P, {nullptr, "fw.s"}, "file=fw.s"},
      {W, {"/B 9600x"}, "baud=9600"},
      {P, {"/b99999999999999999999"}, "baud=" + std::to_string(INT_MAX)},
      {P, {"/S"}, "family=4"},
      {P, {"/a", "/m"}, "family=2"},
      {P, {"/dx"}, "clear=1"},
      {W, {"/d", "/P"}, "clear=2"},
      {P, {"/x", "fw.s"}, "file=fw.s", "Unknown option: /x\r\n"},
      {P, {"/x", "/?", "fw.s", "/c7"}, "", "Unknown option: /x\r\n" + USAGE},
      {W, {"/a", "/h", "/m", "fw.s"}, "family=1", USAGE},
      // On POSIX a second "/" makes an absolute file path, except after /c.
      {P, {"/home/user/fw.s"}, "file=/home/user/fw.s"},
      {P, {"/h/fw.s", "/d"}, "clear=1 file=/h/fw.s"},
      {W, {"/verify/fw.s"}, "verify"},
      {W, {"/opt/fw.s"}, "", "Unknown option: /opt/fw.s\r\n"},
      {W, {"/c4", "/c/dev/pts/7"}, "port=4 device=/dev/pts/7"},
      {P, {"/c/dev/pts/7", "/c3"}, "port=3"},
      {W, {"-?"}, "file=-?", USAGE},
      {P, {"-h", "fw.s"}, "file=fw.s"},
      // /u takes its file from the rest of the argument or from the next one.
      {P,
       {"/u/tmp/old.s", "/usr/fw.s", "/i"},
       "file=/usr/fw.s backup=/tmp/old.s identify",
       "Option /i cannot be used with /u\r\n"},
      {W, {"/u", "old.s", "new.s"}, "file=new.s backup=old.s"},
      {P, {"/u", "/v"}, "", "Option /u takes the name of the file to back up into\r\n"},
      {W, {"fw.s", "/U"}, "file=fw.s", "Option /u takes the name of the file to back up into\r\n"},
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
    const bool refused = c.printed.starts_with("Option /");
    EXPECT_EQ(outcome, help      ? OptionsOutcome::HelpShown
                       : refused ? OptionsOutcome::Refused
                                 : OptionsOutcome::Run)
        << name;
    EXPECT_EQ(Describe(options), c.options.empty() ? "" : " " + c.options) << name;
    EXPECT_EQ(out.text(), c.printed) << name;
  }
}

// Every family's procedure opens its file before it sends anything: a file
// that cannot be read ends the run with status 1 (the port was never opened).
TEST(DriveFamilies, UnreadableFileEndsTheRunBeforeTheDriveIsTouched) {
  for (int family = 0; family <= 4; ++family) {
    RunOptions options;
    options.family = static_cast<DeviceFamily>(family);
    options.fileName = "/nonexistent/fw";
    const DriveFamily& row = LookUpDriveFamily(options.family);
    SerialPort port;
    unit::Output out, err;
    EXPECT_EQ(row.procedure(port, options, *row.blocks, out.get(), err.get()), 1) << family;
    EXPECT_EQ(out.text(), "Can't open file /nonexistent/fw\r\n") << family;
  }
}

// Nym layout, least significant byte first: revision 0123, NYM, B02, current
// 0250, serial 123456; reserved BEEF, personality block size 512, MAC,
// reserved 0007, date code 20240131, manufacturing code -7, test station 42.
const Bytes NYM_REPLY =
    Hex("23 01 4E 59 4D 42 30 32 50 02 40 E2 01 00 EF BE 00 02 00 00 "
        "00 1A 2B 3C 4D AB 07 00 31 01 24 20 F9 FF FF FF 2A 00 00 00");
const std::string NYM_BASIC =
    " Monitor revision:       0123\r\n Model code:             NYM\r\n"
    " Hardware revision:      B02\r\n Current capability:     02.50 Amp\r\n"
    " Serial number           123456\r\n";
const std::string NYM_EXTENDED =
    " Reserved                BEEF\r\n Personality block size  512\r\n"
    " MAC address             001A2B 3C4Dab\r\n Reserved                0007\r\n"
    " Date code               20240131\r\n Manufacturing code      -7\r\n"
    " Test station code       42\r\n";

// The end-to-end runs show each layout for one full reply; here a signed
// field, and short replies (a run takes none shorter than the basic part).
TEST(IdentityRecords, ShortRepliesAndSignedFields) {
  const auto Sized = [](Bytes reply, std::size_t size) { return reply.resize(size, 0), reply; };
  const std::pair<Bytes, std::string> nym[] = {
      {NYM_REPLY, NYM_BASIC + NYM_EXTENDED},
      {Cat(Cat(Sized(NYM_REPLY, 16), Bytes(4, 0)), Bytes(NYM_REPLY.begin() + 20, NYM_REPLY.end())),
       NYM_BASIC},  // no personality block
      {Sized(NYM_REPLY, 39), NYM_BASIC},
  };
  for (const auto& [reply, printed] : nym) {
    unit::Output out;
    ShowNymIdentity(reply, out.get());
    EXPECT_EQ(out.text(), printed) << reply.size();
  }
  // A digest drive's reply holds firmware from 152 bytes on.
  for (const auto& [length, printed] : {std::pair{151u, "Device doesn't have any valid firmware\n"},
                                        std::pair{152u, "Device contains valid firmware.\n"}}) {
    unit::Output out;
    PrintFirmwarePresence(length, out.get());
    EXPECT_EQ(out.text(), printed) << length;
  }
}

}  // namespace
}  // namespace kelvane
