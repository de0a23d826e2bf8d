#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "flash/firmware_backup.h"
#include "monitor/attached_drive.h"
#include "report/failure_text.h"
#include "run/drive_families.h"
#include "run/drive_run.h"

// The block passes, the procedures, backup and the link's retries against drive-sim's monitor
// attached in-process, each fault on the request drive-sim's own option names. The texts are the
// drive's stated lines; the end-to-end tables show them once more on the console of the program.
namespace kelvane {
namespace {

using Faults = std::vector<std::pair<const char*, const char*>>;
constexpr DeviceFamily NYM = DeviceFamily::Nym, TL3XX = DeviceFamily::TL3xx,
                       S27 = DeviceFamily::Series27, TK720 = DeviceFamily::TK720,
                       DIGEST = DeviceFamily::TK720Digest;

// A drive of `family` (drive-sim numbers its families as the loader does) holding what it holds
// new, or `flash`, with the fault plan of drive-sim's options `faults`.
sim::AttachedDrive Attach(DeviceFamily family, const Faults& faults = {},
                          const std::vector<std::uint8_t>& flash = {}) {
  const auto simFamily = static_cast<sim::SimFamily>(family);
  sim::FaultPlan plan;
  for (const auto& [name, value] : faults) EXPECT_EQ(plan.Add(name, value), std::nullopt) << name;
  sim::DriveMonitor monitor(simFamily, {sim::DefaultIdentityFields(simFamily), std::nullopt}, plan);
  monitor.flash().Load(flash);
  return sim::AttachedDrive(std::move(monitor));
}

// The events of a run as lines: each pass with the blocks it did ("write 3"), cut short by a
// failure's line or a stop; the notes, warnings and mismatches; the verdict; the link's attempts.
// A stop is asked for after `stopAfter` blocks.
class Events : public RunReport {
 public:
  std::string log;
  StopFlag stop{false};
  int stopAfter = -1;

  void LinkAttemptFailed(int remaining) override { log += std::to_string(remaining) + " left\n"; }
  void FileMessage(const kelvane::FileMessage& message) override { log += message.text; }
  void ChecksumSectorWriting() override { log += "Writing firmware checksum ...\r\n"; }
  void NoValidFirmware() override { log += "Unit doesn't have any valid firmware\n"; }
  void ChecksumSectorValues(std::uint32_t sum, int words) override {
    char line[48];
    std::snprintf(line, sizeof line, "checksum %08x, %d words\n", static_cast<unsigned>(sum),
                  words);
    log += line;
  }
  void ChecksumSectorChecked(int errors) override { log += std::to_string(errors) + " differ\n"; }
  void PassStarted(Pass pass, int, const PassWords&) override {
    const char* NAMES[] = {"write ", "verify ", "digest ", "read "};
    pass_ = NAMES[static_cast<int>(pass)], done_ = 0;
  }
  void BlockDone(Pass, int, int, const PassWords&) override {
    ++done_;
    if (++blocks_ == stopAfter) stop = true;
  }
  void BlockMismatch(int block, int errors, const PassWords&) override {
    log += "block " + std::to_string(block) + ": " + std::to_string(errors) + " errors\n";
  }
  void PassFinished(Pass) override { log += End() + "\n"; }
  // In the console's words.
  void Failed(const Failure& failure) override { log += End(", ") + FailureLine(failure); }
  void VerdictReached(bool matched, const char*, const char*, Pass) override {
    log += matched ? "match\n" : "no match\n";
  }
  void Interrupted(std::optional<Pass>, int, const PassWords&) override {
    log += End(", ") + "stop\n";
  }

 private:
  // The pass and its blocks, once, where the pass ended.
  std::string End(const char* then = "") {
    std::string text = pass_.empty() ? "" : pass_ + std::to_string(done_) + then;
    return pass_.clear(), text;
  }
  std::string pass_;
  int done_ = 0, blocks_ = 0;
};

#define READ_FAILED \
  "verify 1, FLASH verification failed on sector 1 because of communication error "
#define FAILED_ON "FLASH update failed on "

// Three blocks of 0x00, 0x01, ... (TL3xx: of its 128 bytes), loaded and verified. Word images end
// in their checksum 12345678 over 382 words; the 27 series tells it and writes the sector.
TEST(Procedures, EndAsTheDriveDecides) {
  const std::string S27_WRITTEN =
      "write 3\nWriting firmware checksum ...\r\n"
      "checksum 12345678, 382 words\n";
  const struct {
    DeviceFamily family;
    Faults faults;
    Verdict verdict;
    std::string events;
    int stopAfter = -1;
    bool verifyOnly = false;
  } CASES[] = {
      // clang-format off
      {NYM, {}, Verdict::Verified, "write 3\nverify 3\nmatch\n"},
      {NYM, {{"write-status", "3:0x22"}}, Verdict::Failed, "write 2, " FAILED_ON "sector 2 : error code 34\r\n"},
      {NYM, {{"late", "2"}}, Verdict::Failed, "write 1, " FAILED_ON "sector 1 : error code 16\r\n"},
      {NYM, {{"read-status", "2:0x21"}}, Verdict::Failed, "write 3\n" READ_FAILED "33\r\n"},
      {NYM, {{"bad-payload-checksum", "5"}}, Verdict::Failed, "write 3\n" READ_FAILED "1\r\n"},
      {NYM, {{"short-read", "1:100"}}, Verdict::Mismatch, "write 3\nblock 0: 156 errors\nverify 2\nno match\n"},
      {NYM, {{"stuck", "0x2105:0"}}, Verdict::Mismatch, "write 3\nblock 1: 1 errors\nverify 2\nno match\n"},
      // Erased flash holds the byte 0xFF of the first two blocks, none of the third.
      {NYM, {}, Verdict::Mismatch, "block 0: 255 errors\nblock 1: 255 errors\nblock 2: 256 errors\nverify 0\nno match\n", -1, true},
      {NYM, {}, Verdict::Interrupted, "write 2, stop\n", 2},
      {NYM, {}, Verdict::Interrupted, "write 3\nverify 1, stop\n", 4},
      {TL3XX, {{"write-status", "2:0x21"}}, Verdict::Failed, "write 1, " FAILED_ON "sector 1\r\n"},
      {TL3XX, {{"read-status", "3:0x21"}}, Verdict::Failed, "write 3\nverify 2, FLASH verification failed on sector 2 because of communication error 33\r\n"},
      {S27, {}, Verdict::Verified, S27_WRITTEN + "0 differ\nverify 3\nmatch\n"},
      {S27, {{"write-status", "4:0x21"}}, Verdict::Failed, S27_WRITTEN + "Firmware checksum update failed on sector 479\r\n"},
      {S27, {{"read-status", "1:0x21"}}, Verdict::Failed, S27_WRITTEN + "Failed to read sector with firmware checksum and length\r\n"},
      {S27, {{"stuck", "0x1DF00:0"}}, Verdict::Mismatch, S27_WRITTEN + "1 differ\nverify 3\nno match\n"},
      {S27, {}, Verdict::Interrupted, "write 3\nWriting firmware checksum ...\r\nstop\n", 3},
      {TK720, {{"write-status", "3:0x21"}}, Verdict::Failed, "write 2, " FAILED_ON "block 2\r\n"},
      {TK720, {{"read-status", "2:0x24"}}, Verdict::Failed, "write 3\nverify 1, FLASH verification failed on block 1 because of communication error 36\r\n"},
      {DIGEST, {}, Verdict::Mismatch, "write 3\nUnit doesn't have any valid firmware\nno match\n"},
      {DIGEST, {{"write-status", "1:0x21"}}, Verdict::Failed, "write 0, " FAILED_ON "block 0\r\n"},
      {DIGEST, {{"identify-status", "1:0x21"}}, Verdict::Failed, "write 3\ndigest 0, Communication failure 33 during verification\n"},
      {DIGEST, {}, Verdict::Interrupted, "write 3\nstop\n", 3},
      // clang-format on
  };
  for (const auto& c : CASES) {
    const std::string name = std::to_string(static_cast<int>(c.family)) + " " + c.events;
    const DriveFamily& row = LookUpDriveFamily(c.family);
    PreparedImage image;
    image.bytes.resize(image.length = 768), image.total = 3;
    std::iota(image.bytes.begin(), image.bytes.end(), std::uint8_t{0});
    std::ranges::copy(std::array<std::uint8_t, 4>{0x78, 0x56, 0x34, 0x12}, image.bytes.end() - 4);
    RunOptions options;
    options.verifyOnly = c.verifyOnly;
    sim::AttachedDrive drive = Attach(c.family, c.faults);
    FrameExchange link(drive);
    Events events;
    events.stopAfter = c.stopAfter;
    EXPECT_EQ(row.procedure({link, options, *row.blocks, image, events, &events.stop}), c.verdict)
        << name;
    EXPECT_EQ(events.log, c.events) << name;
  }
}

// The identify request is sent until a drive answers with an identity, each failed attempt told;
// the replies still on their way are let pass, so the next exchange reads its own.
TEST(DriveRun, LinkIsRetriedUntilTheDriveAnswers) {
  const std::string GAVE_UP = "Failed to establish connection with selected device\r\n\r\n";
  const struct {
    Faults faults;
    int attempts;  // 0: one, with a stop asked for before it
    LinkEnd end;
    std::string events;
  } CASES[] = {
      // clang-format off
      {{}, 1, LinkEnd::Established, ""},
      {{{"silent-first", "2"}}, 3, LinkEnd::Established, "3 left\n2 left\n"},
      {{{"silent", ""}}, 2, LinkEnd::GaveUp, "2 left\n1 left\n" + GAVE_UP},
      // No attempt reaches a drive whose line has gone.
      {{{"silent", ""}, {"hangup-after", "1"}}, 5, LinkEnd::GaveUp, "5 left\n" + GAVE_UP},
      {{{"identify-status", "1:0x21"}}, 2, LinkEnd::Established, "2 left\n"},
      // A write's reply left on the line is no identity; the replies run one behind after it.
      {{{"stale-reply", "1"}}, 2, LinkEnd::Established, "2 left\n"},
      {{{"late", "1"}, {"noise", "2:100"}}, 2, LinkEnd::Established, "2 left\n"},
      {{{"noise", "1:5000"}}, 2, LinkEnd::Established, "2 left\n"},
      {{{"silent", ""}}, 0, LinkEnd::Interrupted, "stop\n"},
      // clang-format on
  };
  const DriveFamily& nym = LookUpDriveFamily(NYM);
  for (const auto& c : CASES) {
    const std::string name = c.events + (c.faults.empty() ? "" : c.faults[0].first);
    sim::AttachedDrive drive = Attach(NYM, c.faults);
    FrameExchange link(drive);
    Events events;
    events.stop = c.attempts == 0;
    std::span<const std::uint8_t> identity, sector;
    EXPECT_EQ(EstablishLink(link, std::max(c.attempts, 1), nym.shortestIdentity, identity, events,
                            &events.stop),
              c.end)
        << name;
    EXPECT_EQ(events.log, c.events) << name;
    if (c.end != LinkEnd::Established) continue;
    EXPECT_EQ(identity.size(), 40u) << name;
    EXPECT_EQ(ReadFlashBlock(link, *nym.blocks, 0x2000, 256, sector), LINK_OK) << name;
    EXPECT_EQ(sector.size(), 256u) << name;
  }
}

// A backup reads what the drive holds, and gives no file for a failed read or flash that holds no
// image of the family.
TEST(FirmwareBackup, SavesNothingOfAFailedReadOrOfFlashWithoutAnImage) {
  const std::string EMPTY = "The drive holds no firmware: its image area is empty (all 0xFF)\r\n";
  const std::string NONE = "The drive holds no valid ";
  using Bytes = std::vector<std::uint8_t>;
  const auto At = [](std::size_t at, Bytes bytes) {
    return bytes.insert(bytes.begin(), at, 0xFF), bytes;
  };
  const struct {
    DeviceFamily family;
    Faults faults;
    Bytes flash;
    std::string events;
    int stopAfter = -1;
  } CASES[] = {
      // clang-format off
      {NYM, {}, {}, "read 1\n" + EMPTY},
      {NYM, {}, At(0x2000, {0x37, 0, 0xFF}), "read 1\n" + NONE + "record stream: it holds no data records\r\n"},
      {TL3XX, {}, {0, 0, 0, 0}, "read 516\n" + NONE + "word image: it holds no data\r\n"},
      {TL3XX, {}, At(0x10, {0}), "read 516\n" + NONE + "word image: no image ends in its checksum\r\n"},
      {TL3XX, {{"read-status", "100:0x21"}}, {}, "read 99, FLASH read failed on sector 99 because of communication error 33\r\n"},
      {TL3XX, {{"short-read", "2:100"}}, {}, "read 1, FLASH read failed on sector 1: the drive sent 100 of its 128 bytes\r\n"},
      {TL3XX, {}, {}, "read 5, stop\n", 5},
      {S27, {}, {}, EMPTY},
      {S27, {{"read-status", "1:0x21"}}, {}, "Failed to read sector with firmware checksum and length\r\n"},
      {S27, {}, At(0x1DF00, {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}), "checksum 00000000, 65535 words\n" + NONE + "word image: its checksum sector gives more words than the flash holds\r\n"},
      {TK720, {}, At(0x4000, {0}), "read 1\n" + NONE + "TK720 image: no header with the image magic and a word count\r\n"},
      {TK720, {}, At(0x4000, {0xF1, 0xE2, 0xD3, 0xC4, 0, 0, 0, 3}), "read 1\n" + NONE + "TK720 image: its words do not sum to zero\r\n"},
      {TK720, {}, At(0x4000, {0xF1, 0xE2, 0xD3, 0xC4, 1}), "read 1\n" + NONE + "TK720 image: its header gives more words than the flash holds\r\n"},
      // clang-format on
  };
  for (const auto& c : CASES) {
    const std::string name = std::to_string(static_cast<int>(c.family)) + " " + c.events;
    const DriveFamily& row = LookUpDriveFamily(c.family);
    sim::AttachedDrive drive = Attach(c.family, c.faults, c.flash);
    FrameExchange link(drive);
    Events events;
    events.stopAfter = c.stopAfter;
    std::vector<std::uint8_t> file;
    EXPECT_EQ(row.backup(link, *row.blocks, file, events, &events.stop),
              c.stopAfter < 0 ? PassEnd::Failed : PassEnd::Interrupted)
        << name;
    EXPECT_EQ(events.log, c.events) << name;
    EXPECT_TRUE(file.empty()) << name;
  }
}

}  // namespace
}  // namespace kelvane
