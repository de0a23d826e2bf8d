// drive-sim's command line and the faults it injects into its replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/drive_monitor.h"
#include "sim/drive_status.h"
#include "sim/reply_frame.h"
#include "sim/sim_options.h"
#include "test_support.h"

namespace kelvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Parse {
  SimParse outcome;
  SimOptions options;
  std::string error;
};

Parse ParseLine(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "drive-sim");
  Parse parse;
  parse.outcome = ParseSimOptions(arguments, parse.options, parse.error);
  return parse;
}

TEST(SimOptions, ReadsLineFileAndFamilyOptions) {
  const Parse p = ParseLine({"--family", "tk720-digest", "--link", "/tmp/x", "--baud=115200",
                             "--pace", "--flash-in", "in.bin", "--flash-out", "out.bin", "--log",
                             "l.txt", "--capture", "c.bin"});
  ASSERT_EQ(p.outcome, SimParse::Run) << p.error;
  EXPECT_EQ(p.options.family, SimFamily::TK720Digest);
  EXPECT_EQ(p.options.linkPath, "/tmp/x");
  EXPECT_EQ(p.options.baud, 115200u);
  EXPECT_TRUE(p.options.pace);
  EXPECT_EQ(p.options.flashIn, "in.bin");
  EXPECT_EQ(p.options.flashOut, "out.bin");
  EXPECT_EQ(p.options.logPath, "l.txt");
  EXPECT_EQ(p.options.capturePath, "c.bin");
  EXPECT_FALSE(p.options.devicePath);

  const Parse defaults = ParseLine({});
  ASSERT_EQ(defaults.outcome, SimParse::Run);
  EXPECT_EQ(defaults.options.family, SimFamily::Nym);
  EXPECT_EQ(defaults.options.baud, 38400u);
  EXPECT_FALSE(defaults.options.pace);
  EXPECT_EQ(ParseLine({"--serial", "1", "--help"}).outcome, SimParse::Help);
}

TEST(SimOptions, IdentityFieldsFollowTheFamilyNamedAnywhere) {
  // --family after --current: the current is read as the 27 series' float.
  const Parse s27 = ParseLine({"--current", "6.5", "--build", "-1", "--family", "27"});
  ASSERT_EQ(s27.outcome, SimParse::Run) << s27.error;
  EXPECT_FLOAT_EQ(s27.options.identity.fields.driveCurrentCapability, 6.5F);
  EXPECT_EQ(s27.options.identity.fields.buildNumber, -1);
  EXPECT_EQ(s27.options.identity.fields.modelCode, (std::array<char, 3>{'2', '7', 'S'}));

  const Parse nym = ParseLine({"--current", "1A.05", "--serial", "0x10", "--model", "N77", "--mac",
                               "00:11:22:33:44:5f", "--identity-length", "14"});
  ASSERT_EQ(nym.outcome, SimParse::Run) << nym.error;
  EXPECT_EQ(nym.options.identity.fields.nymCurrentCapability, 0x1A05);
  EXPECT_EQ(nym.options.identity.fields.serialNumber, 16);
  EXPECT_EQ(nym.options.identity.fields.modelCode, (std::array<char, 3>{'N', '7', '7'}));
  EXPECT_EQ(nym.options.identity.fields.macAddress,
            (std::array<std::uint8_t, 6>{0x00, 0x11, 0x22, 0x33, 0x44, 0x5F}));
  EXPECT_EQ(nym.options.identity.length, 14u);

  const Parse hex = ParseLine({"--identity-hex", "0a0B ff"});
  ASSERT_EQ(hex.outcome, SimParse::Run) << hex.error;
  EXPECT_EQ(hex.options.identity.verbatim, (Bytes{0x0A, 0x0B, 0xFF}));
}

TEST(SimOptions, BadArgumentsNameTheOption) {
  struct Case {
    std::vector<const char*> arguments;
    const char* named;
  };
  const std::string longVin(65, 'v');
  const std::vector<Case> cases = {
      {{"--family", "tk721"}, "--family"},
      {{"--bogus"}, "--bogus"},
      {{"stray"}, "stray"},
      {{"--log"}, "--log"},
      {{"--log", ""}, "--log"},
      {{"--baud", "12345"}, "--baud"},
      {{"--baud", "-9600"}, "--baud"},
      {{"--pace=1"}, "--pace"},
      {{"--identity-hex", "abc"}, "--identity-hex"},
      {{"--identity-hex", "zz"}, "--identity-hex"},
      {{"--identity-length", "65536"}, "--identity-length"},
      {{"--serial", "2147483648"}, "--serial"},
      {{"--serial", "12abc"}, "--serial"},
      {{"--model", "ABCD"}, "--model"},
      {{"--current", "20"}, "--current"},  // the Nym layout wants HH.LL
      {{"--family", "27", "--current", "lots"}, "--current"},
      {{"--family", "27", "--build", "40000"}, "--build"},
      {{"--mac", "00:11:22:33:44"}, "--mac"},
      {{"--vin", longVin.c_str()}, "--vin"},
      {{"--write-status", "3"}, "--write-status"},
      {{"--write-status", "0:5"}, "--write-status"},
      {{"--write-status", "3:256"}, "--write-status"},
      {{"--read-status", "x:1"}, "--read-status"},
      {{"--identify-status", "1:"}, "--identify-status"},
      {{"--late", "0"}, "--late"},
      {{"--bad-header", "-1"}, "--bad-header"},
      {{"--noise", "1:70000"}, "--noise"},
      {{"--short-read", "1"}, "--short-read"},
      {{"--silent-first", "many"}, "--silent-first"},
      {{"--hangup-after", ""}, "--hangup-after"},
      {{"--stuck", "0x40800:1"}, "--stuck"},  // one past the Nym flash
      {{"--family", "tl3xx", "--stuck", "0x10200:0"}, "--stuck"},
      {{"--stuck", "0x100:0x100"}, "--stuck"},
  };
  for (const Case& c : cases) {
    const Parse p = ParseLine(c.arguments);
    EXPECT_EQ(p.outcome, SimParse::Error) << c.named;
    EXPECT_NE(p.error.find(c.named), std::string::npos) << p.error;
  }
}

TEST(SimOptions, UsageTextCoversEveryOption) {
  testing::CapturedOutput out;
  PrintSimUsage(out.stream());
  const std::string usage = out.text();
  for (const char* option : {"--family",
                             "--link",
                             "--device",
                             "--baud",
                             "--pace",
                             "--flash-in",
                             "--flash-out",
                             "--log",
                             "--capture",
                             "--identity-hex",
                             "--identity-length",
                             "--serial",
                             "--model",
                             "--hardware",
                             "--monitor-revision",
                             "--silent-first",
                             "--silent",
                             "--write-status",
                             "--read-status",
                             "--identify-status",
                             "--bad-payload-checksum",
                             "--bad-header",
                             "--noise",
                             "--late",
                             "--short-read",
                             "--stuck",
                             "--hangup-after",
                             "0x40800",
                             "0x10200",
                             "0x20000",
                             "0x200000",
                             "0x2000"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

// ---- faults ----------------------------------------------------------------

FaultPlan Faults(std::vector<std::pair<const char*, const char*>> faults) {
  FaultPlan plan;
  for (const auto& [name, value] : faults) {
    EXPECT_FALSE(plan.Add(name, value)) << name << " " << value;
  }
  return plan;
}

Bytes NymWrite(std::uint32_t address, std::uint8_t fill) {
  Bytes payload = {static_cast<std::uint8_t>(address >> 24),
                   static_cast<std::uint8_t>(address >> 16),
                   static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
  payload.resize(260, fill);
  return payload;
}

Bytes NymRead(std::uint32_t address) {
  return {static_cast<std::uint8_t>(address >> 24),
          static_cast<std::uint8_t>(address >> 16),
          static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address),
          0x01,
          0x00};
}

const Request IDENTIFY{COMMAND_IDENTIFY, {}, 6};

TEST(FaultPlan, KindFaultsCountTheirOwnKindAndOthersCountEverything) {
  const FaultPlan plan = Faults({{"write-status", "2:0x33"},
                                 {"read-status", "1:7"},
                                 {"identify-status", "2:9"},
                                 {"late", "2"},
                                 {"short-read", "2:10"},
                                 {"silent-first", "1"}});
  struct Case {
    std::uint64_t number;
    RequestKind kind;
    std::uint64_t kindNumber;
    bool silent;
    std::optional<std::uint8_t> status;
    bool late;
    std::optional<std::uint32_t> shortRead;
  };
  const std::vector<Case> cases = {
      {1, RequestKind::Identify, 1, true, {}, false, {}},
      {2, RequestKind::Identify, 2, false, 9, true, {}},
      {2, RequestKind::Write, 1, false, {}, true, {}},
      {3, RequestKind::Write, 2, false, 0x33, false, {}},
      {4, RequestKind::Read, 1, false, 7, false, {}},
      {5, RequestKind::Read, 2, false, {}, false, 10},
      {5, RequestKind::Write, 2, false, 0x33, false, {}},
  };
  for (const Case& c : cases) {
    const FaultPlan::Effects e = plan.For(c.number, c.kind, c.kindNumber);
    EXPECT_EQ(e.silent, c.silent) << c.number;
    EXPECT_EQ(e.status, c.status) << c.number;
    EXPECT_EQ(e.late, c.late) << c.number;
    EXPECT_EQ(e.shortRead, c.shortRead) << c.number;
  }
}

TEST(FaultPlan, RepeatedFaultsAllApply) {
  const FaultPlan plan = Faults({{"write-status", "1:5"},
                                 {"write-status", "3:6"},
                                 {"noise", "2:3"},
                                 {"noise", "2:4"},
                                 {"hangup-after", "9"},
                                 {"hangup-after", "4"},
                                 {"stuck", "0x10:0"},
                                 {"stuck", "8:1"}});
  EXPECT_EQ(plan.For(1, RequestKind::Write, 1).status, 5);
  EXPECT_EQ(plan.For(2, RequestKind::Write, 2).status, std::nullopt);
  EXPECT_EQ(plan.For(3, RequestKind::Write, 3).status, 6);
  EXPECT_EQ(plan.For(2, RequestKind::Identify, 1).noiseFirst, 7u);
  EXPECT_EQ(plan.hangupAfter(), 4u) << "the earliest hang-up wins";
  ASSERT_EQ(plan.stuckCells().size(), 2u);
  EXPECT_EQ(plan.stuckCells()[0].address, 0x10u);
  EXPECT_EQ(plan.stuckCells()[1].value, 1);
}

TEST(DriveMonitorFaults, WriteStatusStoresNothing) {
  DriveMonitor monitor(SimFamily::Nym, {}, Faults({{"write-status", "2:0x33"}}));
  EXPECT_EQ(monitor.Handle({COMMAND_WRITE_BLOCK, NymWrite(0x000, 0x01), 0}).bytes[5], 0);
  const MonitorAnswer refused = monitor.Handle({COMMAND_WRITE_BLOCK, NymWrite(0x100, 0x02), 0});
  EXPECT_EQ(refused.bytes, BuildReplyFrame(COMMAND_WRITE_BLOCK, 0x33, {}));
  EXPECT_EQ(refused.logLine, "WRITE 0x00000100 256 status 51");
  EXPECT_EQ(monitor.flash().contents()[0x2000], 0x01);
  EXPECT_EQ(monitor.flash().contents()[0x2100], 0xFF);
}

TEST(DriveMonitorFaults, SilentRequestsStillCountAndLog) {
  DriveMonitor monitor(SimFamily::Nym, {}, Faults({{"silent-first", "2"}, {"late", "3"}}));
  const MonitorAnswer first = monitor.Handle(IDENTIFY);
  EXPECT_TRUE(first.silent);
  EXPECT_TRUE(first.bytes.empty());
  EXPECT_EQ(first.logLine, "IDENTIFY silent");
  const MonitorAnswer write = monitor.Handle({COMMAND_WRITE_BLOCK, NymWrite(0, 0), 0});
  EXPECT_TRUE(write.silent);
  EXPECT_EQ(monitor.flash().contents()[0x2000], 0xFF) << "an ignored write stores nothing";
  const MonitorAnswer third = monitor.Handle(IDENTIFY);
  EXPECT_FALSE(third.silent);
  EXPECT_TRUE(third.late) << "--late counts the silent requests too";
  EXPECT_EQ(monitor.requestsReceived(), 3u);
}

TEST(DriveMonitorFaults, ReadFaultsShapeTheReply) {
  DriveMonitor monitor(SimFamily::Nym, {},
                       Faults({{"read-status", "1:7"},
                               {"short-read", "2:10"},
                               {"bad-payload-checksum", "3"},
                               {"bad-header", "4"},
                               {"noise", "4:5"}}));
  MonitorAnswer a = monitor.Handle({COMMAND_READ_BLOCK, NymRead(0x2000), 0});
  EXPECT_EQ(a.bytes, BuildReplyFrame(COMMAND_READ_BLOCK, 7, {}));
  EXPECT_EQ(a.logLine, "READ 0x00002000 256 status 7");

  a = monitor.Handle({COMMAND_READ_BLOCK, NymRead(0x2000), 0});
  EXPECT_EQ(a.bytes, BuildReplyFrame(COMMAND_READ_BLOCK, 0, Bytes(10, 0xFF)));
  EXPECT_EQ(a.logLine, "READ 0x00002000 256 status 0 short 10");

  a = monitor.Handle({COMMAND_READ_BLOCK, NymRead(0x2000), 0});
  Bytes corrupted = BuildReplyFrame(COMMAND_READ_BLOCK, 0, Bytes(256, 0xFF));
  ASSERT_TRUE(CorruptPayloadChecksum(corrupted));
  EXPECT_EQ(a.bytes, corrupted);

  a = monitor.Handle(IDENTIFY);
  const Bytes reply = BuildReplyFrame(COMMAND_IDENTIFY, 0, EncodeNymIdentity({}));
  const Bytes noise = NoiseBytes(5);
  const Bytes decoy = BuildBadHeaderFrame(COMMAND_IDENTIFY, 0, 40);
  Bytes expected = noise;
  expected.insert(expected.end(), decoy.begin(), decoy.end());
  expected.insert(expected.end(), reply.begin(), reply.end());
  EXPECT_EQ(a.bytes, expected) << "noise, then the bad header, then the reply";
  EXPECT_EQ(a.logLine, "IDENTIFY status 0 noise 5 bad-header");
}

TEST(DriveMonitorFaults, IdentifyStatusAnswersWithoutPayload) {
  DriveMonitor monitor(SimFamily::TK720Digest, {}, Faults({{"identify-status", "1:0x42"}}));
  EXPECT_EQ(monitor.Handle(IDENTIFY).bytes, BuildReplyFrame(COMMAND_IDENTIFY, 0x42, {}));
  EXPECT_EQ(monitor.Handle(IDENTIFY).bytes.size(), 7u + 112 + 1);
}

}  // namespace
}  // namespace kelvane::sim
