#include "image/record_lines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/firmware_file.h"
#include "image/record_stream.h"
#include "image/word_image.h"
#include "test_support.h"

namespace kelvane {
namespace {

using namespace std::string_literals;

using testing::CapturedOutput;
using testing::TempDir;

struct Pieces {
  std::vector<std::string> texts;
  std::vector<int> numbers;
  RecordLineReader::Line last;
};

Pieces ReadPieces(std::FILE* file, std::size_t longestLine) {
  Pieces pieces;
  RecordLineReader reader(file, longestLine);
  while ((pieces.last = reader.Next()) == RecordLineReader::Line::Record) {
    pieces.texts.push_back(reader.text());
    pieces.numbers.push_back(reader.lineNumber());
  }
  return pieces;
}

TEST(DecodeHexPair, TakesOnlyTwoUpperCaseHexDigits) {
  struct Case {
    const char* pair;
    bool decodes;
    std::uint8_t byte;
  };
  const Case cases[] = {{"00", true, 0x00}, {"FF", true, 0xFF}, {"A5", true, 0xA5},
                        {"9c", false, 0},   {"fF", false, 0},   {"G0", false, 0},
                        {"0G", false, 0},   {" 1", false, 0},   {"1\n", false, 0},
                        {"1", false, 0},    {"", false, 0}};
  for (const Case& c : cases) {
    std::uint8_t byte = 0x5A;
    EXPECT_EQ(DecodeHexPair(byte, c.pair), c.decodes) << c.pair;
    EXPECT_EQ(byte, c.decodes ? c.byte : 0x5A) << c.pair;
  }
}

TEST(RecordLineReader, CutsNumbersAndSkipsLines) {
  struct Case {
    const char* name;
    std::string file;
    std::size_t longest;
    std::vector<std::string> texts;
    std::vector<int> numbers;
  };
  const Case cases[] = {
      {"plain", "S1\nS2\n", 9, {"S1\n", "S2\n"}, {1, 2}},
      {"CR LF folded", "S1\r\nS2\r\n", 9, {"S1\n", "S2\n"}, {1, 2}},
      {"lone CR kept", "S1\rX\n", 9, {"S1\rX\n"}, {1}},
      {"blank, CR-only and NUL lines counted", "\n\r\r\n\r\n\0x\nS9\n"s, 9, {"S9\n"}, {5}},
      {"long line in pieces", "ABCDEFGHIJ\n", 4, {"ABCD", "EFGH", "IJ\n"}, {1, 2, 3}},
      {"CR LF after a full piece is a blank line", "ABCD\r\nS5\n", 4, {"ABCD", "S5\n"}, {1, 3}},
      {"CR LF fits the last place", "ABC\r\nS5\n", 4, {"ABC\n", "S5\n"}, {1, 2}},
      {"last line without line feed", "S1\nS9", 9, {"S1\n", "S9"}, {1, 2}},
      {"empty file", "", 9, {}, {}},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    FirmwareFile file = OpenFirmwareFile(scratch.Write("fw.s", c.file).c_str());
    ASSERT_TRUE(file);
    const Pieces pieces = ReadPieces(file.get(), c.longest);
    EXPECT_EQ(pieces.texts, c.texts) << c.name;
    EXPECT_EQ(pieces.numbers, c.numbers) << c.name;
    EXPECT_EQ(pieces.last, RecordLineReader::Line::End) << c.name;
  }
}

TEST(FirmwareFile, OpensOnlyReadableFiles) {
  TempDir scratch;
  EXPECT_TRUE(OpenFirmwareFile(scratch.Write("fw.s", "S9030000FC\n").c_str()));
  EXPECT_FALSE(OpenFirmwareFile(scratch.path().c_str()));
  EXPECT_FALSE(OpenFirmwareFile((scratch.path() / "missing.s").c_str()));
  EXPECT_FALSE(OpenFirmwareFile(nullptr));
}

enum class Reader { Word, Stream };

struct Outcome {
  int result = -1;
  int length = -1;
  std::string printed;
  std::vector<std::uint8_t> area;
};

Outcome ReadWith(Reader reader, std::FILE* file) {
  CapturedOutput out;
  Outcome outcome;
  outcome.area.assign(reader == Reader::Word ? TL3XX_IMAGE_AREA : NYM_IMAGE_AREA, 0xFF);
  outcome.result = reader == Reader::Word
                       ? ReadWordImage(file, outcome.area, 65919, outcome.length, out.stream())
                       : ReadRecordStream(file, outcome.area, outcome.length, out.stream());
  outcome.printed = out.text();
  return outcome;
}

Outcome ReadWith(Reader reader, const std::string& text) {
  TempDir scratch;
  return ReadWith(reader, OpenFirmwareFile(scratch.Write("fw.s", text).c_str()).get());
}

// A directory opens for reading on some systems and fails on the first read;
// that must not pass for an empty file, which would give an empty image.
TEST(SRecordLines, ReadErrorIsNotTheEndOfTheFile) {
  TempDir scratch;
  for (Reader reader : {Reader::Word, Reader::Stream}) {
    FirmwareFile directory(std::fopen(scratch.path().c_str(), "r"));
    if (!directory) GTEST_SKIP() << "this system does not open directories";
    const Outcome outcome = ReadWith(reader, directory.get());
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.printed, "Error (file:1) : file cannot be read\r\n");
  }
}

std::string NotAnSRecord(int line) {
  return "Error (file:" + std::to_string(line) + ") : not an S-record found\r\n";
}

std::string HexPair(int value) {
  char pair[9];
  std::snprintf(pair, sizeof pair, "%02X", value);
  return pair;
}

// An S1 record at address 0 with `dataBytes` bytes 00, 01, ...; its checksum
// pair is left as "00" since neither reader looks at it.
std::string LongS1(int dataBytes) {
  std::string line = "S1" + HexPair(dataBytes + 3) + "0000";
  for (int i = 0; i < dataBytes; ++i) line += HexPair(i);
  return line + "00\n";
}

// An S2 record of `count` bytes, all zero.
std::string LongS2(int count) {
  return "S2" + HexPair(count) + std::string(count * 2, '0');
}

TEST(SRecordLines, RefusedLinesReportTheirNumber) {
  struct Case {
    const char* name;
    Reader reader;
    std::string file;
    int line;
  };
  const Case cases[] = {
      {"lower-case hex", Reader::Word, "S1070000010203fff3\n", 1},
      {"lower-case hex", Reader::Stream, "S20801000001020304ec\n", 1},
      {"after S0 and blank", Reader::Word, "S00600004844521B\n\nS1070000010X03FFF3\n", 3},
      {"after S0 and blank", Reader::Stream, "S00600004844521B\r\n\r\nX\r\n", 3},
      {"leading blank", Reader::Word, " S1070000010203FFF3\n", 1},
      {"lower-case s", Reader::Stream, "s20801000001020304EC\n", 1},
      {"type S4", Reader::Word, "S10500000102F7\nS4030000FC\n", 2},
      {"type S6", Reader::Stream, "S6030000FC\n", 1},
      {"count beyond the line", Reader::Word, "S1050000010203F3\nS1080000010203F3\n", 2},
      {"count beyond the line", Reader::Stream, "S00600004844521B\nS20901000001020304EC\n", 2},
      // 199 characters are read at once: the 200th comes as a line of its own.
      {"200 characters", Reader::Word, LongS1(95), 2},
      // The 99-character limit cuts the checksum pair of a 100-character line.
      {"100 characters", Reader::Stream, "S230" + std::string(96, '0') + "\n", 1},
  };
  for (const Case& c : cases) {
    const Outcome outcome = ReadWith(c.reader, c.file);
    EXPECT_EQ(outcome.result, 1) << c.name;
    EXPECT_EQ(outcome.printed, NotAnSRecord(c.line)) << c.name;
  }
}

TEST(SRecordLines, LongestLinesAndWrongChecksumsAreAccepted) {
  struct Case {
    const char* name;
    Reader reader;
    std::string file;
    int length;
  };
  const Case cases[] = {
      {"198 characters", Reader::Word, LongS1(94), 98},
      {"98 characters", Reader::Stream, LongS2(47) + "\n", 49 + 2},
      {"98 characters with CR LF", Reader::Stream, LongS2(47) + "\r\n", 49 + 2},
      {"wrong checksum", Reader::Word, "S1070000010203FF00\n", 8},
      {"wrong checksum", Reader::Stream, "S20801000001020304FF\n", 12},
  };
  for (const Case& c : cases) {
    const Outcome outcome = ReadWith(c.reader, c.file);
    EXPECT_EQ(outcome.result, 0) << c.name << ": " << outcome.printed;
    EXPECT_EQ(outcome.length, c.length) << c.name;
  }
}

TEST(SRecordLines, PiecesOfA200CharacterLineAreStoredBeforeTheRefusal) {
  const Outcome outcome = ReadWith(Reader::Word, LongS1(95));
  for (int i = 0; i < 95; ++i) EXPECT_EQ(outcome.area[i], i);
  EXPECT_EQ(outcome.area[95], 0xFF);
}

TEST(SRecordLines, DosLineEndsReadTheSameAsLineFeeds) {
  struct Case {
    Reader reader;
    std::vector<std::string> lines;
  };
  // The empty strings are blank lines; "\r" is a line holding a lone CR.
  const Case cases[] = {
      {Reader::Word,
       {"S00600004844521B", "", "S1070000010203FFF3", "\r", "S1050010AABB85", "S9030005F7"}},
      {Reader::Stream,
       {"S00600004844521B", "", "S20801000001020304EC", "\r", "S5030001FB", "S804000000FB"}},
      {Reader::Stream, {"S20801000001020304EC", "", "\r", "S9030000FC"}},
  };
  for (const Case& c : cases) {
    std::string unix, dos;
    for (const std::string& line : c.lines) {
      unix += line + "\n";
      dos += line + "\r\n";
    }
    const Outcome a = ReadWith(c.reader, unix);
    const Outcome b = ReadWith(c.reader, dos);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.printed, b.printed);
    EXPECT_EQ(a.area, b.area);
  }
}

}  // namespace
}  // namespace kelvane
