#include "driver/run_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/drive_commands.h"
#include "scripted_line.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;
using testing::ScriptedLine;
using Bytes = std::vector<std::uint8_t>;

const std::string kBanner =
    "\r\n Ostrel firmware loader\r\n"
    "                                            Version 2.03\r\n\r\n";
const std::string kNotSpecified = "S-record file with firmware is not specified\r\n";
const Bytes kIdentifyRequest{0x55, 0xAA, 0x00, 0x00, 0x10, 0x10};

std::string Countdown(int from, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "Trying to establish link with device %4d\r", from - i);
    text += line;
  }
  return text;
}

TEST(EstablishLink, CountsDownFailedAttemptsUntilTheDriveAnswers) {
  struct Case {
    const char* name;
    int failures;
    bool corruptSum;
  };
  for (const Case& c : std::vector<Case>{{"first answer", 0, false},
                                         {"three refusals", 3, false},
                                         {"two bad checksums", 2, true}}) {
    SCOPED_TRACE(c.name);
    ScriptedLine line;
    SerialPort port;
    ASSERT_EQ(port.OpenPath(line.path().c_str(), 38400), 1);
    const Bytes junk{0x42};
    for (int i = 0; i < c.failures; ++i) {
      line.QueueReply(c.corruptSum ? 0 : 5, c.corruptSum ? junk : Bytes{}, c.corruptSum);
    }
    const Bytes identity{1, 2, 3, 4, 5};
    line.QueueReply(0, identity);
    CapturedOutput out;
    std::span<const std::uint8_t> reply;
    ASSERT_EQ(EstablishLink(port, reply, out.stream()), 0);
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), identity);
    EXPECT_EQ(out.text(), Countdown(1000, c.failures));
    Bytes expected;
    for (int i = 0; i <= c.failures; ++i) {
      expected.insert(expected.end(), kIdentifyRequest.begin(), kIdentifyRequest.end());
    }
    EXPECT_EQ(line.TakeBytes(), expected);
  }
}

TEST(EstablishLink, GivesUpAfterAThousandAttempts) {
  ScriptedLine line;
  SerialPort port;
  ASSERT_EQ(port.OpenPath(line.path().c_str(), 38400), 1);
  // Refusals answer at once, so the thousand attempts take no waiting.
  for (int i = 0; i < LINK_ATTEMPTS; ++i) line.QueueReply(3);
  line.QueueReply(0);  // one answer too late to count
  CapturedOutput out;
  std::span<const std::uint8_t> reply;
  EXPECT_EQ(EstablishLink(port, reply, out.stream()), 1);
  EXPECT_EQ(out.text(),
            Countdown(1000, 1000) + "Failed to establish connection with selected device\r\n\r\n");
  EXPECT_EQ(line.TakeBytes().size(), kIdentifyRequest.size() * LINK_ATTEMPTS);
}

// A 40-byte Nym identity without a personality block: five lines.
Bytes NymIdentityReply() {
  Bytes reply(40, 0);
  const std::string text = "\x34\x12NYMB02\x50\x02";
  std::copy(text.begin(), text.end(), reply.begin());
  reply[10] = 7;
  return reply;
}

const std::string kNymLines =
    " Monitor revision:       1234\r\n"
    " Model code:             NYM\r\n"
    " Hardware revision:      B02\r\n"
    " Current capability:     02.50 Amp\r\n"
    " Serial number           7\r\n";

struct RunCase {
  const char* name;
  std::vector<std::string> arguments;  // "@" stands for the line's /c option
  Bytes identity;                      // queued when not empty
  int status;
  std::string expected;  // "@" stands for the line's device path
};

std::string Replace(std::string text, const std::string& by) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    text.replace(at, 1, by);
    at += by.size();
  }
  return text;
}

TEST(RunKelvane, EndsEveryWayOutWithItsMessageAndStatus) {
  const std::string connected =
      "@ open at 38400 baud\r\nConnection with device established.\r\n\r\nDevice details:\r\n";
  const std::vector<RunCase> cases = {
      {"no argument", {}, {}, 1, kBanner + kNotSpecified},
      {"options but no file", {"/v", "/a"}, {}, 1, kBanner + kNotSpecified},
      {"help wins over a file", {"/x", "fw.s", "/?", "/c0"}, {}, 0, ""},
      {"COM port refused", {"/c0", "fw.s"}, {}, 1, kBanner + "Failed to open COM0 port\r\n"},
      {"bare /c", {"/c", "fw.s"}, {}, 1, kBanner + "Failed to open COM-48 port\r\n"},
      {"device path refused",
       {"/c/nonexistent/tty", "fw.s"},
       {},
       1,
       kBanner + "Failed to open /nonexistent/tty port\r\n"},
      {"missing file reported after the identity",
       {"@", "missing.s"},
       NymIdentityReply(),
       1,
       kBanner + connected + kNymLines + "\r\nCan't open file missing.s\r\n"},
      {"baud rate shown",
       {"/b115200", "@", "missing.s"},
       NymIdentityReply(),
       1,
       kBanner + "@ open at 115200 baud\r\nConnection with device established.\r\n\r\n" +
           "Device details:\r\n" + kNymLines + "\r\nCan't open file missing.s\r\n"},
      {"TL3xx with only a clear option",
       {"@", "/a", "/d"},
       NymIdentityReply(),
       1,
       kBanner + connected + kNymLines + "\r\nCan't open file (null)\r\n"},
      {"27 series layout",
       {"/9", "@", "/p"},
       Bytes(28, 0),
       1,
       kBanner + connected + " Monitor revision:          0000\r\n" +
           " Model code:                " + std::string(3, '\0') + "\r\n" +
           " Hardware revision:         " + std::string(3, '\0') + "\r\n" +
           " Current capability:        0.00 Amp\r\n Serial number              0\r\n" +
           " Build number               0\r\n" +
           " Current sensor resolution: 0.00 ADC counts/Amp\r\n" +
           " Bus sensor resolution:     0.00 ADC counts/V\r\n\r\nCan't open file (null)\r\n"},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLine line;
    if (!c.identity.empty()) line.QueueReply(0, c.identity);
    std::vector<std::string> arguments{"kelvane"};
    for (const std::string& a : c.arguments) arguments.push_back(Replace(a, line.deviceOption()));
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    CapturedOutput out;
    EXPECT_EQ(RunKelvane(argv, PathRule::Posix, out.stream()), c.status);
    const std::string text = out.text();
    if (c.expected.empty()) {
      EXPECT_EQ(text.find("Unknown option: /x\r\n Use: Kelvane"), kBanner.size());
    } else {
      EXPECT_EQ(text, Replace(c.expected, line.path()));
    }
  }
}

TEST(RunKelvane, DigestFamilyShowsFirmwarePresence) {
  for (std::size_t length : {151u, 152u}) {
    SCOPED_TRACE(length);
    ScriptedLine line;
    line.QueueReply(0, Bytes(length, 0));
    const std::string device = line.deviceOption();
    const std::vector<const char*> argv{"kelvane", "/s", device.c_str(), "/d"};
    CapturedOutput out;
    EXPECT_EQ(RunKelvane(argv, PathRule::Posix, out.stream()), 1);
    const std::string presence = length < 152 ? "Device doesn't have any valid firmware\n"
                                              : "Device contains valid firmware.\n";
    const std::string text = out.text();
    EXPECT_NE(text.find("   checksum                     0000\n" + presence +
                        "\r\nCan't open file (null)\r\n"),
              std::string::npos)
        << text;
  }
}

}  // namespace
}  // namespace kelvane
