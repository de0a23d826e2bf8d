#include "image/word_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "image/firmware_file.h"
#include "test_support.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;
using testing::TempDir;

struct Outcome {
  int result = -1;
  int size = -1;
  std::string printed;
};

// Reads `text` into `area` through a real file.
Outcome Read(const std::string& text, std::span<std::uint8_t> area, int maxLength) {
  TempDir scratch;
  FirmwareFile file = OpenFirmwareFile(scratch.Write("fw.s", text).c_str());
  CapturedOutput out;
  Outcome outcome;
  outcome.result = ReadWordImage(file.get(), area, maxLength, outcome.size, out.stream());
  outcome.printed = out.text();
  return outcome;
}

// An S2 record at `address` with `dataBytes` bytes of 0x5A.
std::string S2Record(std::uint32_t address, int dataBytes) {
  char head[16];
  std::snprintf(head, sizeof head, "S2%02X%06X", dataBytes + 4, static_cast<unsigned>(address));
  std::string line = head;
  for (int i = 0; i < dataBytes; ++i) line += "5A";
  return line + "00\n";
}

const char* const SIZE_4 = "\r\nFirmware size: 4 checksum 00000000\r\n";

TEST(WordImage, ExamplesGiveTheirImage) {
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::uint8_t> image;  // offsets 0 to L - 1
    std::string printed;
  };
  std::vector<std::uint8_t> first = {1, 2, 3, 0xFF};
  first.resize(16, 0xFF);
  first.insert(first.end(), {0xAA, 0xBB, 0xA8, 0xBC, 0x07, 0x00});
  std::vector<std::uint8_t> lower = {1, 2};
  lower.resize(16, 0xFF);
  lower.insert(lower.end(), {0xAA, 0xBB, 0xA4, 0xBD, 0x07, 0x00});
  std::vector<std::uint8_t> gap(32, 0xFF);
  gap.insert(gap.end(), {0xF0, 0xFF, 0x0F, 0x00});
  const Case cases[] = {
      {"gap and start address",
       "S00600004844521B\n\nS1070000010203FFF3\nS1050010AABB85\nS9030005F7\n", first,
       "Warning (file:5) : starting execution address is not zero\r\n"
       "\r\nFirmware size: 22 checksum 0007bca8\r\n"},
      {"overwrite and odd length",
       "S10500000102F7\nS1050001AABB94\nS804000000FB\n",
       {0x01, 0xAA, 0xBB, 0x00, 0xBC, 0xAA, 0x00, 0x00},
       "\r\nWarning : input file has odd number of bytes (3) when\r\n"
       "          Atmel Flash organized as 16 bit word's array !\r\n"
       "\r\nFirmware size: 8 checksum 0000aabc\r\n"},
      {"lower record after a higher one", "S1050010AABB85\nS10500000102F7\n", lower,
       "\r\nFirmware size: 22 checksum 0007bda4\r\n"},
      {"empty file", "", {0, 0, 0, 0}, SIZE_4},
      {"header and blank lines only", "S00600004844521B\n\nS5030001FB\n", {0, 0, 0, 0}, SIZE_4},
      {"record without data", "S1030020DC\n", gap, "\r\nFirmware size: 36 checksum 000ffff0\r\n"},
      {"checksum pair missing",
       "S20500000012\nS9030000\n",
       {0x12, 0x00, 0x12, 0, 0, 0},
       "\r\nWarning : input file has odd number of bytes (1) when\r\n"
       "          Atmel Flash organized as 16 bit word's array !\r\n"
       "\r\nFirmware size: 6 checksum 00000012\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> area(TL3XX_IMAGE_AREA, 0xFF);
    const Outcome outcome = Read(c.file, area, 65919);
    EXPECT_EQ(outcome.result, 0) << c.name;
    EXPECT_EQ(outcome.size, static_cast<int>(c.image.size())) << c.name;
    EXPECT_EQ(std::vector<std::uint8_t>(area.begin(), area.begin() + c.image.size()), c.image)
        << c.name;
    EXPECT_TRUE(std::all_of(area.begin() + c.image.size(), area.end(),
                            [](std::uint8_t b) { return b == 0xFF; }))
        << c.name << ": bytes beyond the image changed";
    EXPECT_EQ(outcome.printed, c.printed) << c.name;
  }
}

TEST(WordImage, RefusedFilesReportTheirLine) {
  struct Case {
    const char* name;
    std::string file;
    std::string printed;
  };
  const Case cases[] = {
      {"S3 on line 7", "S00600004844521B\nS10500000102F7\n\n\nS1050002AABB92\n\nS30600000000AA4F\n",
       "Error (file:7) : 3 and 4 byte address field S-records are not supported\r\n"},
      {"S7", "S70500000000FA\n",
       "Error (file:1) : 3 and 4 byte address field S-records are not supported\r\n"},
      {"bad digit in S9", "S10500000102F7\nS903000G00\n",
       "Error (file:2) : not an S-record found\r\n"},
      {"cut data pair", "S1050000AAB\n", "Error (file:1) : not an S-record found\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> area(TL3XX_IMAGE_AREA, 0xFF);
    const Outcome outcome = Read(c.file, area, 65919);
    EXPECT_EQ(outcome.result, 1) << c.name;
    EXPECT_EQ(outcome.printed, c.printed) << c.name;
  }
}

TEST(WordImage, CutDataPairKeepsTheBytesBeforeIt) {
  std::vector<std::uint8_t> area(TL3XX_IMAGE_AREA, 0xFF);
  Read("S1050000AAB\n", area, 65919);
  EXPECT_EQ(area[0], 0xAA);
  EXPECT_EQ(area[1], 0xFF);
}

// Regression: a record addressed beyond the area was stored wherever its
// address pointed. The image (data made even, and the checksum) must stay
// within maxLength, and a record that would pass it stores nothing at all.
TEST(WordImage, RecordsBeyondTheLimitAreRefusedBeforeStoring) {
  struct Case {
    std::size_t area;
    int maxLength;
    std::uint32_t address;
    int dataBytes;
    int size;  // 0: refused
  };
  const Case cases[] = {
      {TL3XX_IMAGE_AREA, 65919, 65913, 1, 65918},
      {TL3XX_IMAGE_AREA, 65919, 65914, 1, 0},     // made even 65916, L 65920
      {TL3XX_IMAGE_AREA, 65919, 65900, 40, 0},    // starts inside, ends outside
      {TL3XX_IMAGE_AREA, 65919, 0xFFFFFF, 0, 0},  // the highest S2 address
      {SERIES27_IMAGE_AREA, 122624, 122619, 1, 122624},
      {SERIES27_IMAGE_AREA, 122624, 122620, 1, 0},
      {64, 65919, 59, 1, 64},  // the area, not the caller's limit, is the smaller
      {64, 65919, 60, 1, 0},
  };
  for (const Case& c : cases) {
    // Guard bytes after the area show any store past its end.
    std::vector<std::uint8_t> buffer(c.area + 300, 0xFF);
    const std::span<std::uint8_t> area(buffer.data(), c.area);
    const Outcome outcome =
        Read("S10500000102F7\n" + S2Record(c.address, c.dataBytes), area, c.maxLength);
    const auto erased = [](std::uint8_t b) { return b == 0xFF; };
    EXPECT_TRUE(std::all_of(buffer.begin() + c.area, buffer.end(), erased)) << c.address;
    if (c.size != 0) {
      EXPECT_EQ(outcome.result, 0) << c.address;
      EXPECT_EQ(outcome.size, c.size) << c.address;
      EXPECT_EQ(area[c.address], 0x5A) << c.address;
    } else {
      EXPECT_EQ(outcome.result, 1) << c.address;
      EXPECT_EQ(outcome.printed, "Error (file:2) : record does not fit in the flash image area\r\n")
          << c.address;
      EXPECT_TRUE(std::all_of(buffer.begin() + 2, buffer.end(), erased)) << c.address;
    }
  }
}

}  // namespace
}  // namespace kelvane
