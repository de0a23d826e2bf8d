// Each family's sample loaded into, and checked against, a drive of its
// family. Expected flash contents are the committed golden images, checked
// by hand against srec_cat's rendering of the S-record samples, the stated
// check sums, and OpenSSL's MD5 of the digest drive's image.

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

const char* const UPDATED = "\r\nFirmware was successufully updated\r\n";
const char* const VERIFIED = "\r\nFirmware was successufully verifyed\r\n";
const char* const MD5 = "BBA1E727E1C84C3B549791148777263B";

struct Family {
  const char* name;  // drive-sim's --family
  const char* option;
  const char* sample;
  const char* golden;
  std::size_t at;  // where the image lies in the flash as read back
  const char* unit;
  std::size_t size;  // of a block
  int count;
  const char* before;  // what the loader prints about the image first
  const char* after;   // what it prints between writing and verifying
  const char* drive;   // the drive named in a mismatch verdict (the 27 series says TL3xx)
};

const Family FAMILIES[] = {
    {"nym", "", "nym_sample.s", "nym_sample.stream", 0x2000, "sectors", 256, 13, "", "", "Nym7700"},
    {"tl3xx", "/a", "tl3xx_sample.s", "tl3xx_sample.image", 0, "sectors", 128, 23,
     "\r\nFirmware size: 2820 checksum 030d659e\r\n", "", "TL3xx"},
    {"27", "/9", "series27_sample.s", "series27_sample.image", 0, "sectors", 256, 19,
     "\r\nFirmware size: 4612 checksum 0563ed3b\r\n", "Writing firmware checksum ...\r\n", "TL3xx"},
    {"tk720", "/m", "tk720_sample.bin", "tk720_sample.image", 0x4000, "blocks", 256, 12, "", "",
     "TK720"},
    {"tk720-digest", "/s", "tk720_digest_sample.bin", "tk720_digest_sample.image", 0x8000, "blocks",
     256, 12, "Image size : 2980\nFile MD5 : BBA1E727E1C84C3B549791148777263B\n\n", "", "TK720"},
};

void PrintTo(const Family& f, std::ostream* out) {
  *out << f.name;
}

bool Digest(const Family& f) {
  return std::string(f.name) == "tk720-digest";
}

// What a 27 series load and verify say of the checksum sector once they
// found it right.
std::string ChecksumSector(const Family& f) {
  return std::string(f.name) != "27" ? ""
                                     : "Firmware checksum is 0563ed3b, size in WORDs 2304\r\n"
                                       "Firmware checksum sector is verified\r\n";
}

// The verify pass and its verdict: a digest drive compares digests instead
// of reading the blocks back.
std::string Verify(const Family& f, bool match, const std::map<int, int>& errors = {}) {
  const std::string mismatch = std::string("Firmware in the ") + f.drive +
                               " drive does not much the file " + f.sample + "\r\n";
  if (Digest(f)) {
    return match ? std::string("Unit MD5 : ") + MD5 + "\n\n" + (VERIFIED + 2)
                 : "Unit doesn't have any valid firmware\n\n" + mismatch;
  }
  return Pass("verifyed", f.unit, f.count, 0, -1, errors) + (match ? VERIFIED : "\r\n" + mismatch);
}

std::string Firmware(const Family& f, bool valid) {
  if (!Digest(f)) return "";
  return valid ? "Device contains valid firmware.\n" : "Device doesn't have any valid firmware\n";
}

// The flash of a drive that holds the sample, and what the 27 series keeps
// beside it: the checksum sector that its boot code reads.
Bytes Loaded(const Family& f) {
  Bytes flash = Holding(f.name, f.at, Golden(f.golden));
  if (std::string(f.name) == "27")
    flash = Holding("27", 0x1DF00, Golden("series27_sample.checksum"), flash);
  return flash;
}

std::vector<std::string> Arguments(const Family& f, std::vector<std::string> more) {
  std::vector<std::string> arguments;
  if (*f.option != '\0') arguments.push_back(f.option);
  arguments.insert(arguments.end(), more.begin(), more.end());
  arguments.push_back(f.sample);
  return arguments;
}

class Loads : public ::testing::TestWithParam<Family> {
 protected:
  void SetUp() override { dir.Write(GetParam().sample, Example(GetParam().sample)); }
  TempDir dir;
};

TEST_P(Loads, WritesTheImageAndVerifiesIt) {
  const Family& f = GetParam();
  Drive drive(dir, f.name);
  EXPECT_TRUE(Ran(Load(dir, &drive, Arguments(f, {})), 0,
                  Head(drive, f.name, Firmware(f, false)) + f.before + "Updating firmware:\r\n" +
                      Pass("updated", f.unit, f.count) + UPDATED + f.after + ChecksumSector(f) +
                      "Verifying firmware:\r\n" + Verify(f, true)));
  Bytes flash = drive.Stop();
  // The digest drive's image carries the time of the load.
  if (Digest(f) && flash.size() > 0x8014) std::fill_n(flash.begin() + 0x8010, 4, 0);
  EXPECT_TRUE(SameFlash(Loaded(f), flash));
}

TEST_P(Loads, VerifyOnlyFindsTheImageInPlace) {
  const Family& f = GetParam();
  dir.Write("flash.in", Loaded(f));
  Drive drive(dir, f.name, {"--flash-in", dir.File("flash.in")});
  EXPECT_TRUE(Ran(Load(dir, &drive, Arguments(f, {"/v"})), 0,
                  Head(drive, f.name, Firmware(f, true)) + f.before + ChecksumSector(f) +
                      "Verifying firmware:\r\n" + Verify(f, true)));
  EXPECT_TRUE(SameFlash(Loaded(f), drive.Stop()));
}

TEST_P(Loads, VerifyOnlyCountsTheDifferingBytes) {
  const Family& f = GetParam();
  Bytes flash = Loaded(f);
  // One byte off in the second block, every byte of the fourth.
  flash[f.at + f.size + 7] ^= 0x01;
  for (std::size_t i = 0; i < f.size; ++i) flash[f.at + 3 * f.size + i] ^= 0x5A;
  dir.Write("flash.in", flash);
  Drive drive(dir, f.name, {"--flash-in", dir.File("flash.in")});
  EXPECT_TRUE(Ran(Load(dir, &drive, Arguments(f, {"/v"})), 0,
                  Head(drive, f.name, Firmware(f, false)) + f.before + ChecksumSector(f) +
                      "Verifying firmware:\r\n" + Verify(f, false, {{1, 1}, {3, int(f.size)}})));
  EXPECT_TRUE(SameFlash(flash, drive.Stop()));
}

INSTANTIATE_TEST_SUITE_P(Families, Loads, ::testing::ValuesIn(FAMILIES), [](const auto& info) {
  std::string name = info.param.name;
  std::erase(name, '-');
  return "F" + name;
});

}  // namespace
}  // namespace kelvane::e2e
