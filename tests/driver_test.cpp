#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "programs/command_line.h"
#include "report/console_report.h"
#include "report/failure_text.h"
#include "report/journal.h"
#include "run/drive_families.h"
#include "run/drive_guards.h"
#include "run/identity_records.h"
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
  std::string allowed;
  for (const AllowedDrive& d : o.allowedDrives)
    allowed += " allow=" + d.modelCode + (d.hardwareRevision ? "," + *d.hardwareRevision : "");
  return field(o.portNumber != 1, "port=" + std::to_string(o.portNumber)) +
         field(o.baudRate != 38400, "baud=" + std::to_string(o.baudRate)) +
         field(o.family != DeviceFamily::Nym, "family=" + std::to_string(int(o.family))) +
         field(o.verifyOnly, "verify") +
         field(o.clearMode != ClearMode::None, "clear=" + std::to_string(int(o.clearMode))) +
         field(o.fileName.has_value(), "file=" + o.fileName.value_or("")) +
         field(o.devicePath.has_value(), "device=" + o.devicePath.value_or("")) +
         field(o.backupFileName.has_value(), "backup=" + o.backupFileName.value_or("")) +
         field(o.identifyOnly, "identify") +
         field(o.pinnedSha256.has_value(), "pin=" + o.pinnedSha256.value_or("")) + allowed;
}

#define HEX64 "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef"
#define W_VALUE                                                                            \
  "Option /w takes a model code and, after a comma, a hardware revision, three printable " \
  "characters each (/w770, /w770,C03): "
#define F_VALUE \
  "Option /f takes the firmware file's SHA-256, its 64 hex digits or at least the first 16: "
#define F_WITH "Option /f cannot be used with "

constexpr PathRule P = PathRule::Posix;
constexpr PathRule W = PathRule::Windows;

TEST(CommandLine, ReadOptions) {
  struct Case {
    PathRule rule;
    std::vector<const char*> arguments;  // after the program's name
    std::string options;
    std::string printed = "";  // the usage screen at its end means help was shown
    std::string said = "";     // on standard error
  };
  const Case cases[] = {
      {W, {"/C3"}, "port=3"},
      {P, {"/c32"}, "port=3"},
      // clang-format off
      {P, {"/c"}, "port=-48", "", "Option /c is read as COM-48: the port is the one digit after /c\n"},
      {W, {"/cx"}, "port=72", "", "Option /cx is read as COM72: the port is the one digit after /c\n"},
      {P, {"/b115k"}, "baud=115", "", "Option /b115k is read as 115 baud, what follows the digits left out\n"},
      {W, {"/babc"}, "baud=0", "", "Option /babc is read as 0 baud: it holds no digits\n"},
      {P, {"/fABCDEF0123456789", "/w770", "/W~ 1,C03"}, "pin=abcdef0123456789 allow=770 allow=~ 1,C03"},
      {P, {"/f" HEX64}, "pin=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
      {W, {"/f" HEX64 "0"}, "", F_VALUE "/f" HEX64 "0\r\n"},
      {P, {"/fabcdef012345678"}, "", F_VALUE "/fabcdef012345678\r\n"},
      {P, {"/fabcdef012345678g"}, "", F_VALUE "/fabcdef012345678g\r\n"},
      {P, {"/w77"}, "", W_VALUE "/w77\r\n"},
      {P, {"/w770,C0"}, "", W_VALUE "/w770,C0\r\n"},
      {P, {"/w770;C03"}, "", W_VALUE "/w770;C03\r\n"},
      {P, {"/w7\x1b" "0"}, "", W_VALUE "/w7\x1b" "0\r\n"},
      {P, {"/i", "/f0123456789abcdef"}, "identify pin=0123456789abcdef", F_WITH "/i: it loads no file\r\n"},
      {W, {"/f0123456789abcdef", "/u", "old.s"}, "backup=old.s pin=0123456789abcdef", F_WITH "/u alone: a backup loads no file\r\n"},
      {P, {"/p", "/f0123456789abcdef", "fw.s"}, "clear=2 file=fw.s pin=0123456789abcdef", F_WITH "/p: a clear loads no file\r\n"},
      {P, {"/a", "/d", "/f0123456789abcdef", "fw.s"}, "family=1 clear=1 file=fw.s pin=0123456789abcdef"},
      {W, {"/B 9600x"}, "baud=9600", "", "Option /B 9600x is read as 9600 baud, what follows the digits left out\n"},
      // clang-format on
      {W, {"/c2", "/c5"}, "port=5"},
      {P, {nullptr, "fw.s"}, "file=fw.s"},
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
    unit::Output out, err;
    const OptionsOutcome outcome =
        ReadOptions(argv, c.rule, options, out.get(), nullptr, err.get());
    const bool help = c.printed.ends_with(USAGE);
    const bool refused = c.printed.starts_with("Option /");
    EXPECT_EQ(outcome, help      ? OptionsOutcome::HelpShown
                       : refused ? OptionsOutcome::Refused
                                 : OptionsOutcome::Run)
        << name;
    EXPECT_EQ(Describe(options), c.options.empty() ? "" : " " + c.options) << name;
    EXPECT_EQ(out.text(), c.printed) << name;
    EXPECT_EQ(err.text(), c.said) << name;
  }
}

// A drive of the family sends its model code and hardware revision as text, both of them; /w's
// refusal shows them with every byte that is no printable character as "?".
TEST(DriveGuards, ModelAndRevisionBothPrintable) {
  const struct {
    std::string model, revision, shown;
  } CODES[] = {{"770", "C03", "770, hardware revision C03"},
               {"~ 1", "C03", "~ 1, hardware revision C03"},
               {"770", "C0\x1b", "770, hardware revision C0?"},
               {std::string("\0\0\x7f", 3), "C03", "???, hardware revision C03"}};
  RunOptions options;
  options.identifyOnly = true;
  options.allowedDrives = {{"771", "C04"}};
  for (const auto& [model, revision, shown] : CODES) {
    DriveIdentity identity;
    identity.modelCode = model;
    identity.hardwareRevision = revision;
    EXPECT_EQ(AnswersLikeTheFamily(identity), revision == "C03" && model[0] != '\0') << model;
    const auto refusal = DriveRefusal(options, LookUpDriveFamily(DeviceFamily::Nym), identity);
    EXPECT_EQ(FailureText(refusal.value()),
              "The drive is model " + shown + "; /w allows only 771 revision C04")
        << model;
  }
}

// Every family reads its file before any port is opened: a file that cannot
// be read is refused, and the refusal is told (status 1) where the procedure
// would have read it, without a byte sent.
TEST(DriveFamilies, UnreadableFileIsRefusedBeforeTheDriveIsTouched) {
  for (int family = 0; family <= 4; ++family) {
    RunOptions options;
    options.family = static_cast<DeviceFamily>(family);
    options.fileName = "/nonexistent/fw";
    const DriveFamily& row = LookUpDriveFamily(options.family);
    const PreparedImage image = row.prepare(options, *row.blocks, 0);
    SerialPort port;
    FrameExchange link(port);
    unit::Output out, err;
    ConsoleReport console(out.get(), err.get());
    EXPECT_EQ(row.procedure({link, options, *row.blocks, image, console}), Verdict::FileRefused)
        << family;
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
  const auto Shown = [](const DriveIdentity& identity) {
    std::string text;
    for (const IdentityLine& line : identity.lines) text += line.line;
    return text;
  };
  for (const auto& [reply, printed] : nym) {
    EXPECT_EQ(Shown(DescribeNymIdentity(reply)), printed) << reply.size();
  }
  // A digest drive's reply holds firmware from 152 bytes on.
  for (const auto& [length, printed] : {std::pair{151u, "Device doesn't have any valid firmware\n"},
                                        std::pair{152u, "Device contains valid firmware.\n"}}) {
    EXPECT_TRUE(Shown(DescribeTK720DigestIdentity(Bytes(length, 0x30))).ends_with(printed))
        << length;
  }
}

// A file name goes into the journal as JSON escapes (expected values per RFC 8259 and the Unicode
// code charts): UTF-8 characters as their code points, any byte that is no part of one as \u00XX.
TEST(Journal, FileNamesBecomeAsciiJson) {
  const std::pair<std::string, std::string> names[] = {
      {"a\"b\\c", R"(a\"b\\c)"},
      {"\x01\x7F", R"(\u0001\u007f)"},
      {"\xC3\xA9", R"(\u00e9)"},                // U+00E9
      {"\xE2\x82\xAC", R"(\u20ac)"},            // U+20AC
      {"\xF0\x9F\x98\x80", R"(\ud83d\ude00)"},  // U+1F600, a surrogate pair
      {"\xFF", R"(\u00ff)"},
      {"\xC0\x80", R"(\u00c0\u0080)"},            // overlong
      {"\xED\xA0\x80", R"(\u00ed\u00a0\u0080)"},  // a surrogate's own code
      {"\xE2\x82", R"(\u00e2\u0082)"},            // cut short
  };
  for (const auto& [name, escaped] : names) {
    JournalEntry entry;
    entry.file = name;
    const std::string line = JournalLine(entry);
    EXPECT_NE(line.find("\"file\":\"" + escaped + "\","), std::string::npos) << line;
    EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c > 0 && c != 0x7F; }));
  }
}

}  // namespace
}  // namespace kelvane
