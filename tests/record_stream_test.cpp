#include "image/record_stream.h"

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
  int length = -1;
  std::string printed;
};

Outcome Read(const std::string& text, std::span<std::uint8_t> area) {
  TempDir scratch;
  FirmwareFile file = OpenFirmwareFile(scratch.Write("fw.s", text).c_str());
  CapturedOutput out;
  Outcome outcome;
  outcome.result = ReadRecordStream(file.get(), area, outcome.length, out.stream());
  outcome.printed = out.text();
  return outcome;
}

// `records` S3 lines of count 2F (the longest line, 98 characters), then one
// of `lastCount`; the stream they give is 49 * records + lastCount + 4 bytes.
std::string S3Lines(int records, int lastCount) {
  std::string text;
  const std::string longest = "S32F" + std::string(2 * 0x2F, '1') + "\n";
  for (int i = 0; i < records; ++i) text += longest;
  char count[9];
  std::snprintf(count, sizeof count, "%02X", lastCount);
  return text + "S3" + count + std::string(2 * lastCount, '2') + "\n";
}

TEST(RecordStream, RecordsAreCopiedDecodedAndTerminated) {
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::uint8_t> stream;
  };
  const Case cases[] = {
      {"all four types",
       "S00600004844521B\nS20801000001020304EC\n\nS30600000000AA4F\nS5030001FB\n"
       "S70500000000FA\nS804000000FB\n",
       {0x32, 0x08, 0x01, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xEC, 0x33,
        0x06, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x4F, 0x37, 0x05, 0x00, 0x00,
        0x00, 0x00, 0xFA, 0x38, 0x04, 0x00, 0x00, 0x00, 0xFB, 0xFF, 0xFF}},
      {"empty file", "", {0xFF, 0xFF}},
      {"header, count and blank lines only", "S00600004844521B\n\r\n\nS5030001FB\n", {0xFF, 0xFF}},
      {"count 00", "S200\n", {0x32, 0x00, 0xFF, 0xFF}},
      {"wrong checksum copied",
       "S205010000AB00\n",
       {0x32, 0x05, 0x01, 0x00, 0x00, 0xAB, 0x00, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> area(NYM_IMAGE_AREA, 0xA5);
    const Outcome outcome = Read(c.file, area);
    EXPECT_EQ(outcome.result, 0) << c.name;
    EXPECT_EQ(outcome.length, static_cast<int>(c.stream.size())) << c.name;
    EXPECT_EQ(std::vector<std::uint8_t>(area.begin(), area.begin() + c.stream.size()), c.stream)
        << c.name;
    EXPECT_EQ(area[c.stream.size()], 0xA5) << c.name << ": wrote past the stream";
    EXPECT_EQ(outcome.printed, "") << c.name;
  }
}

TEST(RecordStream, RefusedFilesReportTheirLine) {
  struct Case {
    const char* name;
    std::string file;
    std::string printed;
  };
  const Case cases[] = {
      {"S1 after valid S2", "S20801000001020304EC\nS20801000001020304EC\nS10500000102F7\n",
       "Error (file:3) : 2 byte address field S-record is not supported\r\n"},
      {"S9", "S00600004844521B\n\nS9030000FC\n",
       "Error (file:3) : 2 byte address field S-record is not supported\r\n"},
      {"not a digit", "S20801000001020304EC\nSX0400\n",
       "Error (file:2) : not an S-record found\r\n"},
      {"bad count", "S2G801000001020304EC\n", "Error (file:1) : not an S-record found\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> area(NYM_IMAGE_AREA, 0xFF);
    const Outcome outcome = Read(c.file, area);
    EXPECT_EQ(outcome.result, 1) << c.name;
    EXPECT_EQ(outcome.printed, c.printed) << c.name;
  }
}

// Regression: a long stream ran past the image area. The stream with its
// terminator must end before the area's last byte, so that every sector the
// drive is sent lies inside the area; the record that would pass that is
// refused on its own line, and nothing is stored beyond the area.
TEST(RecordStream, StreamsThatWouldNotFitAreRefusedOnTheirLine) {
  struct Case {
    std::size_t area;
    int records;    // of 49 bytes each
    int lastCount;  // the last record takes lastCount + 2 bytes
    int length;     // 0: refused
    int line;       // where it is refused
  };
  const Case cases[] = {
      {NYM_IMAGE_AREA, 5224, 19, 255999, 0},
      {NYM_IMAGE_AREA, 5224, 20, 0, 5225},
      {NYM_IMAGE_AREA, 5224, 0xFF, 0, 5225},
      {100, 1, 46, 99, 0},
      {100, 1, 47, 0, 2},
      {100, 2, 0, 0, 2},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> buffer(c.area + 300, 0xA5);
    const Outcome outcome =
        Read(S3Lines(c.records, c.lastCount), std::span<std::uint8_t>(buffer.data(), c.area));
    EXPECT_TRUE(std::all_of(buffer.begin() + c.area, buffer.end(),
                            [](std::uint8_t b) { return b == 0xA5; }))
        << c.records << " " << c.lastCount << ": stored past the area";
    if (c.length != 0) {
      EXPECT_EQ(outcome.result, 0) << c.records << " " << c.lastCount;
      EXPECT_EQ(outcome.length, c.length) << c.records << " " << c.lastCount;
    } else {
      EXPECT_EQ(outcome.result, 1) << c.records << " " << c.lastCount;
      EXPECT_EQ(outcome.printed, "Error (file:" + std::to_string(c.line) +
                                     ") : record does not fit in the flash image area\r\n")
          << c.records << " " << c.lastCount;
    }
  }
}

}  // namespace
}  // namespace kelvane
