#include "image/checksummed_image.h"

#include <gtest/gtest.h>

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
  ChecksummedImage image;
  std::string printed;
};

Outcome Prepare(const char* fileName) {
  CapturedOutput out;
  Outcome outcome;
  outcome.result = PrepareChecksummedImage(fileName, outcome.image, out.stream());
  outcome.printed = out.text();
  return outcome;
}

std::vector<std::uint8_t> Counting(std::size_t length, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

// The drive's own check: the image, read as big-endian words, sums to zero.
std::uint32_t DriveSum(const ChecksummedImage& image) {
  std::uint32_t sum = 0;
  for (int i = 0; i < image.length; i += 4) {
    sum += (std::uint32_t{image.bytes[i]} << 24) | (std::uint32_t{image.bytes[i + 1]} << 16) |
           (std::uint32_t{image.bytes[i + 2]} << 8) | image.bytes[i + 3];
  }
  return sum;
}

TEST(ChecksummedImage, FilesGiveTheirImage) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    std::vector<std::uint8_t> image;  // offsets 0 to L - 1; empty: only check the layout
  };
  const Case cases[] = {
      {"header room only",
       Counting(8, 0x40),
       {0xF1, 0xE2, 0xD3, 0xC4, 0x00, 0x00, 0x00, 0x03, 0x0E, 0x1D, 0x2C, 0x39}},
      {"bytes 00 to 0F", Counting(16, 0x00), {0xF1, 0xE2, 0xD3, 0xC4, 0x00, 0x00, 0x00,
                                              0x05, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                                              0x0E, 0x0F, 0xFA, 0x07, 0x14, 0x1D}},
      {"twelve zero bytes",
       std::vector<std::uint8_t>(12, 0),
       {0xF1, 0xE2, 0xD3, 0xC4, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x1D, 0x2C,
        0x38}},
      // Pad bytes are the erased-flash value, and the check word covers them.
      {"nine bytes",
       std::vector<std::uint8_t>(9, 0),
       {0xF1, 0xE2, 0xD3, 0xC4, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFF, 0xFF, 0xFF, 0x0D, 0x1D, 0x2C,
        0x39}},
      {"1000 bytes", Counting(1000, 7), {}},
      {"1001 bytes", Counting(1001, 9), {}},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    const Outcome outcome = Prepare(scratch.Write("fw.bin", c.file).c_str());
    const ChecksummedImage& image = outcome.image;
    ASSERT_EQ(outcome.result, 0) << c.name << ": " << outcome.printed;
    EXPECT_EQ(outcome.printed, "") << c.name;
    const int padded = static_cast<int>(c.file.size() + 3) / 4 * 4;
    EXPECT_EQ(image.length, padded + 4) << c.name;
    ASSERT_EQ(image.bytes.size(), c.file.size() + 512) << c.name;
    if (!c.image.empty()) {
      EXPECT_EQ(std::vector<std::uint8_t>(image.bytes.begin(), image.bytes.begin() + image.length),
                c.image)
          << c.name;
    }
    EXPECT_EQ(DriveSum(image), 0u) << c.name;
    // The file's own bytes after the header go out unchanged.
    EXPECT_TRUE(std::equal(c.file.begin() + 8, c.file.end(), image.bytes.begin() + 8)) << c.name;
    EXPECT_TRUE(std::all_of(image.bytes.begin() + c.file.size(), image.bytes.begin() + padded,
                            [](std::uint8_t b) { return b == 0xFF; }))
        << c.name << ": pad bytes";
    // The last block sent, up to the next multiple of 256, is filled with 0xFF.
    EXPECT_TRUE(std::all_of(image.bytes.begin() + image.length,
                            image.bytes.begin() + image.length + 256,
                            [](std::uint8_t b) { return b == 0xFF; }))
        << c.name << ": tail";
  }
}

TEST(ChecksummedImage, FilesWithoutRoomForTheHeaderAreRefused) {
  struct Case {
    std::size_t length;
    const char* printed;
  };
  const Case cases[] = {
      {0, "File is empty. Nothing to load.\r\n"},
      {1, "File is too short for the image header. Nothing to load.\r\n"},
      {4, "File is too short for the image header. Nothing to load.\r\n"},
      {7, "File is too short for the image header. Nothing to load.\r\n"},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    const Outcome outcome =
        Prepare(scratch.Write("fw.bin", std::vector<std::uint8_t>(c.length, 1)).c_str());
    EXPECT_EQ(outcome.result, 1) << c.length;
    EXPECT_EQ(outcome.printed, c.printed) << c.length;
  }
}

TEST(ChecksummedImage, FilesThatCannotBeOpenedAreRefused) {
  TempDir scratch;
  const std::string missing = scratch.File("missing.bin");
  const std::string paths[] = {missing, scratch.path().string()};
  for (const std::string& path : paths) {
    const Outcome outcome = Prepare(path.c_str());
    EXPECT_EQ(outcome.result, 1) << path;
    EXPECT_EQ(outcome.printed, "Can't open file " + path + "\r\n");
  }
  EXPECT_EQ(Prepare(nullptr).printed, "Can't open file (null)\r\n");
}

}  // namespace
}  // namespace kelvane
