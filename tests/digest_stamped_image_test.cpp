#include "image/digest_stamped_image.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;
using testing::TempDir;

struct Outcome {
  int result = -1;
  DigestStampedImage image;
  std::string printed;
};

Outcome Prepare(const char* fileName, std::uint32_t timeStamp) {
  CapturedOutput out;
  Outcome outcome;
  outcome.result = PrepareDigestStampedImage(fileName, timeStamp, outcome.image, out.stream());
  outcome.printed = out.text();
  return outcome;
}

// The reference digest, as upper-case hex.
std::string ReferenceMd5(const std::uint8_t* data, std::size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  EVP_Digest(data, length, digest, &digestLength, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < digestLength; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string hex;
  for (std::uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return hex;
}

TEST(DigestStampedImage, FilesGiveTheirImageAndLines) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    int length;
    std::uint8_t lengthField[4];
    std::string md5;  // empty: the reference digest of offsets 20 to L - 1
  };
  std::vector<std::uint8_t> counting(1000);
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
  const Case cases[] = {
      {"32 zero bytes",
       std::vector<std::uint8_t>(32, 0),
       32,
       {0, 0, 0, 12},
       "E1AA110F246A7A3D9332A6D5F672DBC8"},
      // The two pad bytes are 0xFF and digested with the rest.
      {"30 zero bytes",
       std::vector<std::uint8_t>(30, 0),
       32,
       {0, 0, 0, 12},
       "EA26453A2641CE4E268B1AF1E330A8D2"},
      {"1000 bytes", counting, 1000, {0, 0, 0x03, 0xD4}, ""},
      {"24 bytes: the length field only", std::vector<std::uint8_t>(24, 9), 24, {0, 0, 0, 4}, ""},
      {"75 bytes", std::vector<std::uint8_t>(75, 0x33), 76, {0, 0, 0, 56}, ""},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    const Outcome outcome = Prepare(scratch.Write("fw.bin", c.file).c_str(), 0x12345678);
    const DigestStampedImage& image = outcome.image;
    ASSERT_EQ(outcome.result, 0) << c.name << ": " << outcome.printed;
    ASSERT_EQ(image.bytes.size(), c.file.size() + 512) << c.name;
    EXPECT_EQ(image.length, c.length) << c.name;
    EXPECT_TRUE(std::equal(c.lengthField, c.lengthField + 4, image.bytes.begin() + 20)) << c.name;
    // The time stamp goes least significant byte first.
    const std::uint8_t stamp[] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_TRUE(std::equal(stamp, stamp + 4, image.bytes.begin() + 16)) << c.name;
    EXPECT_TRUE(std::equal(c.file.begin() + 24, c.file.end(), image.bytes.begin() + 24)) << c.name;
    EXPECT_TRUE(std::all_of(image.bytes.begin() + c.file.size(), image.bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }))
        << c.name << ": pad and tail";
    const std::string md5 =
        c.md5.empty() ? ReferenceMd5(image.bytes.data() + 20, image.length - 20) : c.md5;
    EXPECT_EQ(Hex(image.digest()), md5) << c.name;
    EXPECT_EQ(outcome.printed,
              "Image size : " + std::to_string(c.length - 20) + "\nFile MD5 : " + md5 + "\n\n")
        << c.name;
  }
}

// The drive reports the digest of what it holds, which has no time stamp in
// it: two loads of one file must give one digest.
TEST(DigestStampedImage, TimeStampChangesNotTheDigest) {
  TempDir scratch;
  const std::string file = scratch.Write("fw.bin", std::vector<std::uint8_t>(100, 0x5C));
  const Outcome first = Prepare(file.c_str(), 1700000000);
  const Outcome second = Prepare(file.c_str(), 1700000001);
  EXPECT_EQ(Hex(first.image.digest()), Hex(second.image.digest()));
  EXPECT_NE(first.image.bytes, second.image.bytes);
  EXPECT_TRUE(std::equal(first.image.bytes.begin() + 20, first.image.bytes.end(),
                         second.image.bytes.begin() + 20));
}

TEST(DigestStampedImage, FilesWithoutRoomForTheHeaderAreRefused) {
  struct Case {
    std::size_t length;
    const char* printed;
  };
  const Case cases[] = {
      {0, "File is empty. Nothing to load.\r\n"},
      {1, "File is too short for the image header. Nothing to load.\r\n"},
      {20, "File is too short for the image header. Nothing to load.\r\n"},
      {23, "File is too short for the image header. Nothing to load.\r\n"},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    const Outcome outcome =
        Prepare(scratch.Write("fw.bin", std::vector<std::uint8_t>(c.length, 1)).c_str(), 0);
    EXPECT_EQ(outcome.result, 1) << c.length;
    EXPECT_EQ(outcome.printed, c.printed) << c.length;
  }
  TempDir scratch;
  const std::string missing = scratch.File("missing.bin");
  EXPECT_EQ(Prepare(missing.c_str(), 0).printed, "Can't open file " + missing + "\r\n");
}

}  // namespace
}  // namespace kelvane
