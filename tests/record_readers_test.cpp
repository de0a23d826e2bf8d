#include <gtest/gtest.h>

#include <span>
#include <string>

#include "flash/block_families.h"
#include "image/record_stream.h"
#include "image/word_image.h"
#include "unit_support.h"

namespace kelvane {
namespace {

using unit::Bytes;
using unit::Hex;

// An S2 line of `count` bytes after the count, all data zero.
std::string S2Line(int count) {
  char head[16];
  std::snprintf(head, sizeof head, "S2%02X", count);
  return head + std::string(2 * count, '0') + "\n";
}

struct Case {
  const char* name;
  std::string file;
  int result;
  std::string printed;
  Bytes image = {};  // checked when given
};

// Reads the case's file, with either line end, into the family's erased area.
template <typename Reader>
void Check(const Case& c, const BlockFamily& family, Reader reader) {
  for (const char* ending : {"\n", "\r\n"}) {
    std::string text;
    for (char ch : c.file) text += ch == '\n' ? std::string(ending) : std::string(1, ch);
    std::FILE* file = fmemopen(text.data(), text.size(), "rb");
    unit::Output out, err;
    Bytes area(family.imageArea, 0xFF);
    int length = 0;
    const int result = reader(file, area, length, out.get(), err.get());
    std::fclose(file);
    const std::string name = c.name + std::string(ending[0] == '\r' ? " (CR LF)" : " (LF)");
    EXPECT_EQ(result, c.result) << name;
    EXPECT_EQ(out.text(), c.printed) << name;
    if (result == 0 && !c.image.empty()) {
      EXPECT_EQ(Bytes(area.begin(), area.begin() + length), c.image) << name;
    }
  }
}

constexpr const char* TOO_BIG = "record does not fit in the flash image area\r\n";

std::string Error(int line, const std::string& text) {
  return "Error (file:" + std::to_string(line) + ") : " + text;
}

TEST(RecordReaders, WordImage) {
  const auto size = [](int length, const char* checksum) {
    return "\r\nFirmware size: " + std::to_string(length) + " checksum " + checksum + "\r\n";
  };
  const auto odd = [](int length) {
    return "\r\nWarning : input file has odd number of bytes (" + std::to_string(length) +
           ") when\r\n          Atmel Flash organized as 16 bit word's array !\r\n";
  };
  const std::string LONGEST = S2Line(97);  // 198 characters before the line end
  const Case tl3xx[] = {
      {"S1 words", "S10700000102030400\n", 0, size(8, "00000604"), Hex("01 02 03 04 04 06 00 00")},
      {"odd length gets a zero byte", "S1060000010203AA\n", 0, odd(3) + size(8, "00000204"),
       Hex("01 02 03 00 04 02 00 00")},
      {"S2 after a gap of erased flash", "S2060000040A0B00\n", 0, size(10, "00020b08"),
       Hex("FF FF FF FF 0A 0B 08 0B 02 00")},
      {"header, count and start records", "S0030000FC\n\nS1050000AABB00\nS5030001FB\nS9030010EC\n",
       0, "Warning (file:5) : starting execution address is not zero\r\n" + size(6, "0000bbaa"),
       Hex("AA BB AA BB 00 00")},
      {"S3 refused on its line", "S1050000AABB00\n\nS30600000000AA00\n", 1,
       Error(3, "3 and 4 byte address field S-records are not supported\r\n")},
      {"not a record", "S1050000AABB00\nX1050000AABB00\n", 1,
       Error(2, "not an S-record found\r\n")},
      {"198 characters", LONGEST, 0, odd(93) + size(98, "00000000")},
      // The 199th character starts a line of its own: "0" is no record.
      {"200 characters", S2Line(98), 1, Error(2, "not an S-record found\r\n")},
      {"TL3xx image of 65918 bytes", "S206010178123400\n", 0, size(65918, "80bbb356")},
      {"TL3xx image of 65920 bytes", "S1050000AABB00\nS20601017A123400\n", 1, Error(2, TOO_BIG)},
      {"TL3xx data ending at odd byte 65915", "S20501017AAB00\nS9030000FC\n", 1, Error(1, TOO_BIG)},
  };
  const Case series27[] = {
      {"27 series image of 122622 bytes", "S20601DEF8123400\n", 0, size(122622, "ef7b4496")},
      {"27 series image of 122624 bytes", "S20601DEFA123400\n", 1, Error(1, TOO_BIG)},
  };
  for (const BlockFamily* family : {&TL3XX_FAMILY, &SERIES27_FAMILY}) {
    for (const Case& c : family == &TL3XX_FAMILY ? std::span<const Case>(tl3xx) : series27) {
      Check(c, *family,
            [&](std::FILE* file, Bytes& area, int& length, std::FILE* out, std::FILE* err) {
              return ReadWordImage(file, area, family->maxImageLength, length, out, err);
            });
    }
  }
}

TEST(RecordReaders, RecordStream) {
  // The stream may hold 255999 bytes, its FF FF included, so that the sector
  // past its end still lies inside the 256000-byte area: 5224 records of 49
  // bytes, then one of 21 (or 22, one too many).
  std::string full;
  for (int i = 0; i < 5224; ++i) full += S2Line(47);
  const Case cases[] = {
      {"S3 and S7", "\nS3070000000000AB01\n\nS70500000000FA\n", 0, "",
       Hex("33 07 00 00 00 00 00 AB 01 37 05 00 00 00 00 FA FF FF")},
      {"no records", "S0030000FC\n", 0, "", Hex("FF FF")},
      {"S1 refused", "S2080000100102030499\nS1050000AABB00\n", 1,
       Error(2, "2 byte address field S-record is not supported\r\n")},
      {"S9 refused", "\n\nS9030000FC\n", 1,
       Error(3, "2 byte address field S-record is not supported\r\n")},
      {"not a record", "s2080000100102030499\n", 1, Error(1, "not an S-record found\r\n")},
      {"file cut short in its last line", "S2080000100102030499\nS2080000", 1,
       Error(2, "not an S-record found\r\n")},
      {"stream of 255999 bytes", full + S2Line(19), 0, "", {}},
      {"stream of 256000 bytes", full + S2Line(20) + "S804000000FB\n", 1, Error(5225, TOO_BIG)},
  };
  for (const Case& c : cases) Check(c, NYM_FAMILY, ReadRecordStream);
}

}  // namespace
}  // namespace kelvane
