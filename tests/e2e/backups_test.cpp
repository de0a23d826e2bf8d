// A drive's firmware backed up into a file (/u) and loaded back, and a drive asked who it is (/i),
// against drive-sim. Round trips are checked on the flash of a second drive, byte for byte, and
// on srec_cat's reading of the backup files.

#include <algorithm>
#include <filesystem>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

struct Backup {
  const char *name, *family;  // family: drive-sim's --family
  std::vector<std::string> run;
  const char* loaded;  // into the drive before the run; nullptr: none
  int status;
  std::string out;  // after the identity, "<size>" for the file's; refusals: after the banner
  std::vector<std::string> sim = {};
  std::string err = "";  // standard error
};

// Made by srec_cat rather than by the sample generator: S3 records; zeros at 0 and an odd end;
// S1 and S2 records (its checksum and word count below worked out with Python from srec_cat's
// binary rendering); a binary image of 515 bytes; an image whose last 64 bytes are erased.
// clang-format off
const std::vector<std::string> SREC_CAT_FILES[] = {
  {"-generate", "0x10000", "0x1012B", "-repeat-string", "Kelvane backup ", "-address-length=4", "-obs=40", "-o", "nym.s"},
  {"-generate", "0", "0x10", "-constant", "0", "-generate", "0x400", "0x455", "-repeat-data", "1", "2", "3", "-address-length=2",
   "-obs=32", "-o", "tl3xx.s"},
  {"-generate", "0", "0x40", "-repeat-data", "1", "2", "-generate", "0x10000", "0x1002F", "-repeat-string", "27 series ",
   "-address-length=3", "-obs=40", "-o", "27.s"},
  {"-generate", "0", "0x203", "-repeat-string", "TK720 firmware ", "-o", "tk720.bin", "-binary"},
  {"-generate", "0", "0x20", "-repeat-data", "7", "-generate", "0x20", "0x60", "-constant", "0xFF", "-o", "tl3xx_ff.s"}};
// clang-format on

// Blocks 1 to `count` read, the progress counting up to `shown` (all the image area may
// hold) until the last block.
std::string Read(const char* unit, int count, int shown) {
  return "Reading firmware:\r\n" + Pass("read", unit, shown, 0, count - 1) +
         Pass("read", unit, count, count - 1) + "\r\n";
}
#define SAVED "Firmware saved into back (<size> bytes)\r\n"
#define CANNOT "Option /u cannot be used with "
#define VALID "The drive holds a valid TK720 image of "

// clang-format off
const Backup BACKUPS[] = {
  {"NymSample", "nym", {"/u", "back"}, "nym_sample.s", 0, Read("sectors", 13, 1000) + SAVED},
  {"Tl3xxSample", "tl3xx", {"/a", "/uback"}, "tl3xx_sample.s", 0, Read("sectors", 516, 516) + SAVED},
  {"Series27Sample", "27", {"/9", "/Uback"}, "series27_sample.s", 0, "Firmware checksum is 0563ed3b, size in WORDs 2304\r\n" + Read("sectors", 19, 19) + SAVED},
  {"Tk720Sample", "tk720", {"/m", "/u", "back"}, "tk720_sample.bin", 0, Read("blocks", 12, 12) + VALID "3004 bytes\r\n" SAVED},
  {"NymSrecCat", "nym", {"/u", "back"}, "nym.s", 0, Read("sectors", 2, 1000) + SAVED},
  {"Tl3xxSrecCat", "tl3xx", {"/a", "/u", "back"}, "tl3xx.s", 0, Read("sectors", 516, 516) + SAVED},
  // Erased bytes at the image's end still count in its length: its last record is saved.
  {"Tl3xxEndsErased", "tl3xx", {"/a", "/u", "back"}, "tl3xx_ff.s", 0, Read("sectors", 516, 516) + SAVED},
  {"Series27SrecCat", "27", {"/9", "/u", "back"}, "27.s", 0,
   "Firmware checksum is 7fe767ac, size in WORDs 32792\r\n" + Read("sectors", 257, 257) + SAVED},
  {"Tk720SrecCat", "tk720", {"/m", "/u", "back"}, "tk720.bin", 0, Read("blocks", 3, 3) + VALID "520 bytes\r\n" SAVED},
  // A record whose checksum byte (the stream's 38th) reads 00: saved as it is, and refused when loaded.
  {"NymChecksumWrong", "nym", {"/u", "back"}, "nym_sample.s", 0, Read("sectors", 13, 1000) + SAVED, {"--stuck", "0x2025:0"},
   "Warning: the drive's record 1 (line 2 of the backup) has the checksum 00 where its bytes give 19: saved as the drive holds it, a load of the backup refuses that line\n"},
  {"FolderMissing", "nym", {"/u", "none/back"}, "nym_sample.s", 1, "Can't create file none/back\r\n"},
  {"BackUpThenLoad", "nym", {"/u", "back", "nym_sample.s"}, "nym.s", 0, Read("sectors", 2, 1000) + SAVED "Updating firmware:\r\n" +
   Pass("updated", "sectors", 13) + UPDATED + "Verifying firmware:\r\n" + Pass("verifyed", "sectors", 13) + VERIFIED},
  {"RefusedWithDigest", "tk720-digest", {"/s", "/u", "back", "x.bin"}, nullptr, 1, CANNOT "/s: a TK720 digest drive reads no blocks back\r\n"},
  {"RefusedWithVerify", "nym", {"/ub", "/v", "x.s"}, nullptr, 1, CANNOT "/v\r\n"},
  {"RefusedWithClear", "nym", {"/d", "/u", "back"}, nullptr, 1, CANNOT "/d\r\n"},
  {"RefusedWithClearParameters", "nym", {"/u", "back", "/p"}, nullptr, 1, CANNOT "/p\r\n"},
  // Never over the file being loaded, by its name or by another path to it.
  {"OntoTheFirmwareFile", "nym", {"/unym_sample.s", "nym_sample.s"}, nullptr, 1, "Option /u would overwrite the firmware file nym_sample.s: back up into another file\r\n"},
  {"OntoTheFirmwareFileByAnotherPath", "nym", {"/u", "./nym_sample.s", "nym_sample.s"}, nullptr, 1, "Option /u would overwrite the firmware file nym_sample.s: back up into another file\r\n"},
  {"WrongModel", "nym", {"/u", "back", "/w771"}, "nym_sample.s", 1, "The drive is model 770, hardware revision C03; /w allows only 771\r\n"},
  {"IdentifyNym", "nym", {"/i"}, nullptr, 0, ""},
  {"IdentifySeries27", "27", {"/9", "/I", "x.s"}, nullptr, 0, ""},
  {"IdentifyDigest", "tk720-digest", {"/s", "/i"}, nullptr, 0, ""},
};
// clang-format on

std::string SrecCat(const TempDir& dir, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "srec_cat");
  ChildProcess tool(arguments, dir.path());
  EXPECT_TRUE(tool.Wait(30s));
  EXPECT_EQ(tool.status(), 0) << tool.Stderr();
  return tool.Stdout();
}

class Backups : public ::testing::TestWithParam<Backup> {};
TEST_P(Backups, SaveWhatALoadPutsBackOrNothing) {
  const Backup& b = GetParam();
  TempDir dir;
  for (const char* sample :
       {"nym_sample.s", "tl3xx_sample.s", "series27_sample.s", "tk720_sample.bin"})
    dir.Write(sample, Example(sample));
  for (const auto& arguments : SREC_CAT_FILES) SrecCat(dir, arguments);
  // An earlier backup under the name: replaced only by a complete one.
  dir.Write("back", std::string("earlier backup\n"));
  // A file loaded with the run's family option (its first argument, unless a Nym's).
  const auto with = [&b](std::vector<std::string> file) {
    if (b.run[0].size() == 2 && std::string("a9ms").find(b.run[0][1]) < 4)
      file.insert(file.begin(), b.run[0]);
    return file;
  };
  Drive a(dir, b.family, b.sim);
  ASSERT_TRUE(b.loaded == nullptr || Load(dir, &a, with({b.loaded})).status == 0);
  Result run = Load(dir, &a, b.run);
  if (UnderWine()) std::erase(run.err, '\r');  // Windows' standard error is a text stream
  EXPECT_EQ(run.err, b.err);
  const Bytes saved = testing::ReadFile(dir.File("back"));
  std::string out = b.out;
  if (const std::size_t at = out.find("<size>"); at != std::string::npos)
    out.replace(at, 6, std::to_string(saved.size()));
  const bool refused = out.starts_with("Option");
  EXPECT_TRUE(Ran(run, b.status, (refused ? BANNER : Head(a, b.family)) + out));
  EXPECT_FALSE(std::filesystem::exists(dir.File("back.kelvane-part")));
  const Bytes flash = a.Stop(), logged = testing::ReadFile(dir.File("sim.log"));
  const bool identifies = std::ranges::count(b.run, "/i") + std::ranges::count(b.run, "/I") > 0;
  EXPECT_TRUE(!identifies || std::string(logged.begin(), logged.end()) == "IDENTIFY status 0\n");
  EXPECT_TRUE(!refused || !a.Heard());
  if (b.status != 0 || b.loaded == nullptr) {
    EXPECT_EQ(std::string(saved.begin(), saved.end()), "earlier backup\n");
    return;
  }
  // Loaded into an erased drive, the backup makes it hold what the first one held (unless the
  // run loaded another file after the backup).
  if (!run.out.ends_with(VERIFIED)) {
    Drive second(dir, b.family);
    const Result again = Load(dir, &second, with({"back"}));  // without a warning on any record
    if (!b.err.empty()) {
      EXPECT_TRUE(Ran(again, 1,
                      Head(second, b.family) +
                          "Error (file:2) : record checksum is 00 where its bytes give 19\r\n"));
      return;
    }
    EXPECT_TRUE(again.status == 0 && again.out.find("Warning") == std::string::npos &&
                again.err.empty())
        << again.out << again.err;
    EXPECT_TRUE(SameFlash(flash, second.Stop()));
  }
  const std::string loaded = b.loaded;
  if (loaded.ends_with(".bin")) return;
  if (std::string(b.family) == "nym") {
    // The records themselves: srec_cat places their data as it does the loaded file's.
    EXPECT_EQ(SrecCat(dir, {"back", "-o", "-", "-binary"}),
              SrecCat(dir, {loaded, "-o", "-", "-binary"}));
    return;
  }
  // srec_cat's own records of the image it read verify on the drive.
  SrecCat(dir, {"back", "-o", "again.s", "-address-length=3", "-obs=16"});
  Drive third(dir, b.family, {"--flash-in", dir.File("sim.flash")});
  EXPECT_TRUE(Load(dir, &third, with({"again.s", "/v"})).out.ends_with(VERIFIED));
}
INSTANTIATE_TEST_SUITE_P(Table, Backups, ::testing::ValuesIn(BACKUPS), RowName);

}  // namespace
}  // namespace kelvane::e2e
