#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <tuple>

#include "digest/md5_digest.h"
#include "digest/sha256_digest.h"
#include "flash/block_families.h"
#include "flash/block_passes.h"
#include "image/binary_file.h"
#include "image/checksummed_image.h"
#include "image/digest_stamped_image.h"
#include "image/elf_file.h"
#include "image/intel_hex.h"
#include "image/record_stream.h"
#include "image/word_image.h"
#include "unit_support.h"

// Firmware files made into images, and the blocks those go to the drive in.
namespace kelvane {
namespace {

using unit::Bytes;
using unit::Hex;

// An S2 line of `count` bytes after the count, all data zero, so that its
// checksum is the complement of the count alone.
std::string S2Line(int count) {
  char head[16], checksum[4];
  std::snprintf(head, sizeof head, "S2%02X", count);
  std::snprintf(checksum, sizeof checksum, "%02X", ~count & 0xFF);
  return head + std::string(2 * count - 2, '0') + checksum + "\n";
}

// An ELF32 little-endian executable: one loadable segment for each {physical address, bytes},
// the bytes after the program headers, entry point `entry`.
std::string Elf(const std::vector<std::pair<std::uint32_t, Bytes>>& segments, std::uint32_t entry) {
  Bytes elf = Hex("7F 45 4C 46 01 01 01 00 00 00 00 00 00 00 00 00 02 00 53 00 01 00 00 00");
  const auto put = [&elf](std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) elf.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  put(entry, 4), put(52, 4), put(0, 8), put(52, 2), put(32, 2),
      put(std::uint32_t(segments.size()), 2);
  put(0, 6);
  std::uint32_t offset = 52 + 32 * std::uint32_t(segments.size());
  for (const auto& [address, bytes] : segments) {
    const auto size = std::uint32_t(bytes.size());
    put(1, 4), put(offset, 4), put(address, 4), put(address, 4), put(size, 4), put(size + 4, 4);
    put(7, 4), put(1, 4);
    offset += size;
  }
  for (const auto& segment : segments)
    elf.insert(elf.end(), segment.second.begin(), segment.second.end());
  return std::string(elf.begin(), elf.end());
}

struct Case {
  const char* name;
  std::string file;
  int result;
  std::string printed;
  Bytes image = {};      // checked when given
  std::string err = "";  // the error stream's lines
};

// Reads the case's file, with either line end, into the family's erased
// area: the TL3xx and 27 series as a word image, the Nym as a record stream.
void Check(const Case& c, const BlockFamily& family) {
  for (const char* ending : {"\n", "\r\n"}) {
    std::string text;
    for (char ch : c.file) text += ch == '\n' ? std::string(ending) : std::string(1, ch);
    const Bytes file(text.begin(), text.end());
    FileMessages messages;
    Bytes area(family.imageArea, 0xFF);
    int length = 0;
    const FileRead result =
        &family == &NYM_FAMILY ? ReadRecordStream(file, area, length, messages)
                               : ReadWordImage(file, area, family.maxImageLength, length, messages);
    const std::string name = c.name + std::string(ending[0] == '\r' ? " (CR LF)" : " (LF)");
    EXPECT_EQ(result == FileRead::Refused, c.result != 0) << name;
    EXPECT_EQ(messages.ConsoleText(), c.printed) << name;
    EXPECT_EQ(messages.ErrorText(), c.err) << name;
    if (result == FileRead::Taken && !c.image.empty()) {
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
  // clang-format off
  const Case tl3xx[] = {
      {"odd length gets a zero byte", "S1060000010203F3\nS9030000FC\n", 0, odd(3) + size(8, "00000204"), Hex("01 02 03 00 04 02 00 00")},
      {"S2 after a gap of erased flash", "S2060000040A0BE0\nS804000000FB\n", 0, size(10, "00020b08"), Hex("FF FF FF FF 0A 0B 08 0B 02 00")},
      {"header, count and start records", "S0030000FC\n\nS1050000AABB95\nS5030001FB\nS9030010EC\r", 0, "Warning (file:5) : starting execution address is not zero\r\n" + size(6, "0000bbaa"), Hex("AA BB AA BB 00 00")},
      // Intel HEX by its content: bytes at their full addresses (base 0x10000 from the 02
      // record), a start address (05) other than zero warned of as an S9's.
      {"Intel HEX", "\n:0400000001020304F2\n:020000021000EC\r\n:02000000AABB99\n:0400000500000010E7\n:00000001FF\n", 0, "Warning (file:5) : starting execution address is not zero\r\n" + size(65542, "7ffe41b0")},
      {"HEX data past offset FFFF", ":02FFFF000102FD\n:00000001FF\n", 1, Error(1, "data record runs past offset FFFF\r\n")},
      {"HEX type 06", ":00000006FA\n", 1, Error(1, "unknown Intel HEX record type 06\r\n")},
      {"HEX digit G", ":04000000010203G4F2\n:00000001FF\n", 1, Error(1, "not an Intel HEX record\r\n")},
      {"ELF object file", Elf({{0, Hex("01 02")}}, 0).replace(16, 1, 1, '\1'), 1, "Error (file:ELF header) : not an executable ELF file\r\n"},
      {"HEX record after the end", ":00000001FF\n:0400000001020304F2\n", 1, Error(2, "record after the end of file record\r\n")},
      {"HEX cut short", ":0400000001020304F2\n:0000", 1, Error(2, "record length does not match its byte count 00\r\n"), {},
       "Line 2 holds 4 hex digits where its byte count gives 10: the file was cut short or "
       "damaged\n"},
      {"HEX without its end", ":0400000001020304F2\n", 1, Error(1, "Intel HEX file has no end of file record: it may have been cut short\r\n")},
      // ELF: each segment's file bytes (not the 4 more it takes in memory) at its physical address.
      {"ELF", Elf({{0x10, Hex("AA BB")}, {0, Hex("01 02 03 04")}}, 2), 0, "Warning (file:ELF header) : starting execution address is not zero\r\n" + size(22, "0006c1a8"), Hex("01 02 03 04 FF FF FF FF FF FF FF FF FF FF FF FF AA BB A8 C1 06 00")},
      {"ELF segments overlapping", Elf({{0, Hex("01 02")}, {1, Hex("03")}}, 0), 1, "Error (file:segment 1) : segment overlaps segment 0 at address 0x1\r\n"},
      // S-records checked line by line.
      {"count too small", "S1020000\n", 1, Error(1, "record count 02 is too small for its address and checksum\r\n")},
      {"checksum pair missing", "S1050000AABB\nS9030000FC\n", 1, Error(1, "not an S-record found\r\n"), {},
       "Line 1 ends after 4 of the 5 bytes its count gives: the file was cut short or damaged\n"},
      {"S9 checksum wrong", "S1050000AABB95\nS9030000FB\n", 1, Error(2, "record checksum is FB where its bytes give FC\r\n"), {},
       "Line 2 does not hold the bytes its checksum was made for: the file was damaged or changed "
       "by hand, or it is the backup of a drive that holds such a record\n"},
      // A header longer than the reader takes is skipped; data given twice warned of when it
      // differs.
      {"long header, an address given twice", "S0" + std::string(300, '0') + "\nS1040000AA51\nS1040000BB40\nS1040000BB40\nS9030000FC\n", 0, odd(1) + size(6, "000000bb"), Hex("BB 00 BB 00 00 00"), "Warning: line 3 gives address 0x0 the byte BB where line 2 gave it AA; line 3's byte is loaded\n"},
      {"S3 refused on its line", "S1050000AABB95\n\nS30600000000AA4F\n", 1, Error(3, "3 and 4 byte address field S-records are not supported\r\n")},
      {"not a record", "S1050000AABB95\nX1050000AABB00\n", 1, Error(2, "not an S-record found\r\n")},
      {"198 characters, the longest line", S2Line(97) + "S804000000FB\n", 0, odd(93) + size(98, "00000000")},
      {"TL3xx image of 65918 bytes", "S206010178123439\nS804000000FB\n", 0, size(65918, "80bbb356")},
      {"TL3xx image of 65920 bytes", "S1050000AABB95\nS20601017A123437\n", 1, Error(2, TOO_BIG)},
      {"TL3xx data ending at odd byte 65915", "S20501017AABD3\nS9030000FC\n", 1, Error(1, TOO_BIG)},
  };
  // clang-format on
  const Case series27[] = {
      {"27 series image of 122622 bytes", "S20601DEF81234DC\nS804000000FB\n", 0,
       size(122622, "ef7b4496")},
      {"27 series image of 122624 bytes", "S20601DEFA1234DA\n", 1, Error(1, TOO_BIG)},
  };
  for (const Case& c : tl3xx) Check(c, TL3XX_FAMILY);
  for (const Case& c : series27) Check(c, SERIES27_FAMILY);
}

TEST(RecordReaders, RecordStream) {
  // The stream may hold 255999 bytes, its FF FF included, so that the sector
  // past its end still lies inside the 256000-byte area: 5224 records of 49
  // bytes, then one of 21 (or 22, one too many).
  std::string full;
  for (int i = 0; i < 5224; ++i) full += S2Line(47);
  // clang-format off
  const Case cases[] = {
      {"S3 and S7", "\nS3070000000000AB4D\n\nS70500000000FA\n", 0, "", Hex("33 07 00 00 00 00 00 AB 4D 37 05 00 00 00 00 FA FF FF")},
      // Intel HEX packed into the records its S-record twin holds: S2 below 0x1000000 and an S8
      // start record of 0, S3 above and an S7 with the start address of the 05 record.
      {"Intel HEX, 24-bit", ":0400000001020304F2\n:00000001FF\n", 0, "", Hex("32 08 00 00 00 01 02 03 04 ED 38 04 00 00 00 FB FF FF")},
      {"Intel HEX, 32-bit", ":020000040800F2\n:0400000001020304F2\n:0400000508000000EF\n:00000001FF\n", 0, "", Hex("33 09 08 00 00 00 01 02 03 04 E4 37 05 08 00 00 00 F2 FF FF")},
      // An ELF segment of 40 bytes: records of 32 and 8.
      {"ELF, 40 bytes", Elf({{0x20, Bytes(40, 0)}}, 0), 0, "", unit::Cat( unit::Cat(unit::Cat(Hex("32 24 00 00 20"), Bytes(32, 0)), Hex("BB 32 0C 00 00 40")), unit::Cat(Bytes(8, 0), Hex("B3 38 04 00 00 00 FB FF FF")))},
      // The last byte a 32-bit address reaches.
      {"ELF at 0xFFFFFFFF", Elf({{0xFFFFFFFF, Hex("01")}}, 0), 0, "", Hex("33 06 FF FF FF FF 01 FC 38 04 00 00 00 FB FF FF")},
      // Without an end record a file may have been cut short, unless an S5 counts its records.
      {"no end record", "S20800001001020304DD\n", 0, "", {},
       "Warning: the file has no end record (S7 or S8) and no count record (S5) matching its 1 "
       "data records: it may have been cut short\n"},
      {"no end record, counted", "S20800001001020304DD\nS5030001FB\n", 0, ""},
      {"data after the end", "S804000000FB\nS20800001001020304DD\n", 0, "", {},
       "Warning: line 2 holds a data record after the end record on line 1: two files joined?\n"},
      {"no data records", "S0030000FC\n\nS70500000000FA\n", 1, "File holds no firmware records. Nothing to load.\r\n"},
      {"NUL byte", std::string("S20400000000FB\0\n", 16), 1, Error(1, "not an S-record found\r\n"), {},
       "Line 1 holds a NUL byte, which no S-record file does: this looks like a binary image, "
       "which only the TK720 options /m and /s take\n"},
      {"S1 refused", "S20800001001020304DD\nS1050000AABB95\n", 1, Error(2, "2 byte address field S-record is not supported\r\n")},
      {"S9 refused", "\n\nS9030000FC\n", 1, Error(3, "2 byte address field S-record is not supported\r\n")},
      {"file cut short in its last line", "S20800001001020304DD\nS2080000", 1, Error(2, "not an S-record found\r\n"), {},
       "Line 2 ends after 2 of the 8 bytes its count gives: the file was cut short or damaged\n"},
      {"second digit not hex", "S20800001001020G0499\n", 1, Error(1, "not an S-record found\r\n")},
      {"stream of 255999 bytes", full + S2Line(19), 0, "", {},
       "Warning: the file has no end record (S7 or S8) and no count record (S5) matching its 5225 "
       "data records: it may have been cut short\n"},
      {"stream of 256000 bytes", full + S2Line(20) + "S804000000FB\n", 1, Error(5225, TOO_BIG)},
  };
  // clang-format on
  for (const Case& c : cases) Check(c, NYM_FAMILY);
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return text;
}

// What a backup finds in the flash it read: where a record stream ends (or breaks off), the
// length of a word image whose first four bytes also hold the sum before them, a TK720 header.
TEST(RecordReaders, WhatTheFlashHolds) {
  const std::tuple<Bytes, StreamScan, std::size_t> streams[] = {
      {Hex("32 04 00 00 00 AA FF FF 00"), StreamScan::Ended, 8},
      {Hex("38 04 00 00 00 FB 37"), StreamScan::Unfinished, 6},
      {Hex("32 05 00 00 00 AA"), StreamScan::Unfinished, 0},
      {Hex("37 05 00 00 00 00 FA 31 03 00 00 FC FF FF"), StreamScan::Invalid, 7},
      {Hex("FF 00"), StreamScan::Invalid, 0},
      {unit::Cat(Hex("33 2F"), Bytes(47, 0)), StreamScan::Unfinished, 49},
      {unit::Cat(Hex("33 30"), Bytes(48, 0)), StreamScan::Invalid, 0}};
  for (const auto& [flash, scan, end] : streams) {
    std::size_t position = 0;
    EXPECT_EQ(ScanRecordStream(flash, position), scan) << HexText(flash);
    EXPECT_EQ(position, end) << HexText(flash);
  }
  EXPECT_EQ(FindWordImageLength(Hex("00 00 00 00 02 00 02 00 00 00 FF FF FF FF")), 10);
  EXPECT_EQ(FindWordImageLength(Bytes(1000, 0xFF)), 0);
  for (const auto& [header, length] :
       std::initializer_list<std::tuple<const char*, int>>{{"F1 E2 D3 C4 00 00 00 03", 12},
                                                           {"F1 E2 D3 C4 00 00 00 02", 0},
                                                           {"F1 E2 D3 C5 00 00 00 03", 0}})
    EXPECT_EQ(ChecksummedImageLength(std::span<const std::uint8_t, 8>(Hex(header).data(), 8)),
              length);
  EXPECT_TRUE(ChecksummedImageSumsToZero(Hex("F1 E2 D3 C4 00 00 00 03 0E 1D 2C 39")));
  EXPECT_FALSE(ChecksummedImageSumsToZero(Hex("F1 E2 D3 C4 00 00 00 03 0E 1D 2C 3A")));
}

// The end-to-end loads show both images for a file of whole words; here the
// padding of a file that ends mid-word, and the refusals. Checksummed: header
// F1E2D3C4, word count, the file from byte 8, 0xFF to a whole word, the word
// that makes the big-endian sum zero, erased flash to the end of the block.
// Digest-stamped: the digest (over byte 20 on, hand-checked), time stamp LSB
// first, length MSB first, the file from byte 24.
TEST(BinaryImages, PaddedToWholeWordsOrRefused) {
  const std::string STAMPED = "Image size : 12\nFile MD5 : EA26453A2641CE4E268B1AF1E330A8D2\n\n",
                    EMPTY = "File is empty. Nothing to load.\r\n";
  // Checksummed: the whole image; stamped: bytes 16 to 23; none: refused.
  const std::tuple<bool, Bytes, Bytes, std::string, int> cases[] = {
      {false, Bytes(9, 0), Hex("F1 E2 D3 C4 00 00 00 04 00 FF FF FF 0D 1D 2C 39"), "", 16},
      {false, {}, {}, EMPTY, 0},
      {true, Bytes(30, 0), Hex("78 56 34 12 00 00 00 0C"), STAMPED, 32},
      {true, Bytes(24, 0), Hex("78 56 34 12 00 00 00 04"),  // the header alone: MD5 of 00 00 00 04
       "Image size : 4\nFile MD5 : EA4959EB64A1F09BE580D950964F3843\n\n", 24},
      {true, {}, {}, EMPTY, 0},
      {true, Bytes(23, 0), {}, "File is too short for the image header. Nothing to load.\r\n", 0},
  };
  for (const auto& [isStamped, file, expected, printed, imageLength] : cases) {
    FileMessages out;
    ChecksummedImage sum;
    DigestStampedImage stamped;
    const FileRead result =
        isStamped ? PrepareDigestStampedImage(file, "fw.bin", 0x12345678, stamped, out)
                  : PrepareChecksummedImage(file, "fw.bin", sum, out);
    const std::string row = std::to_string(isStamped) + " " + std::to_string(file.size());
    EXPECT_EQ(result == FileRead::Refused, expected.empty()) << row;
    EXPECT_EQ(out.ConsoleText(), printed) << row;
    if (result != FileRead::Taken) continue;
    const std::vector<std::uint8_t>& bytes = isStamped ? stamped.bytes : sum.bytes;
    const auto image = bytes.begin() + (isStamped ? 16 : 0);
    EXPECT_EQ(Bytes(image, image + expected.size()), expected) << row;
    const int length = isStamped ? stamped.length : sum.length;
    EXPECT_EQ(length, imageLength) << row;
    EXPECT_TRUE(std::all_of(bytes.begin() + (isStamped ? 30 : 16), bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(bytes.size(), isStamped ? bytes.size() : file.size() + 512);
  }
}

// An S-record file (the first three) opens with a record line; a binary image does not.
TEST(BinaryImages, RecordFileToldApart) {
  const std::string cases[] = {"S00600004844521B\r\nS1",
                               "S9030000FC",
                               "S1130000 ; text\n",
                               "s00600004844521B\n",
                               "SX0600\n",
                               "S10\n",
                               "S1130000\x01\n",
                               std::string("S113\0\n", 6)};
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(BeginsWithRecordLine(Bytes(cases[i].begin(), cases[i].end())), i < 3) << cases[i];
  // Intel HEX (the first two) only with a whole first record, its checksum right, its line ended.
  const std::string hex[] = {":0400000001020304F2\n", ":0400000001020304f2\r\n",
                             ":0400000001020304F3\n", ":0400000001020304F2",
                             ":04000000010203F2\n",   ":\n0000000000000",
                             ":0400000001020304F2\rx"};
  for (std::size_t i = 0; i < std::size(hex); ++i)
    EXPECT_EQ(BeginsWithIntelHexRecord(Bytes(hex[i].begin(), hex[i].end())), i < 2) << hex[i];
  // ELF only with a whole header: class, byte order, versions and header size right.
  Bytes elf = Hex("7F 45 4C 46 01 02 01 00 00 00 00 00 00 00 00 00 00 02 00 28 00 00 00 01");
  elf.resize(52);
  elf[41] = 52;
  EXPECT_TRUE(HoldsElfHeader(elf));
  for (const std::size_t at : {4, 5, 6, 23, 41}) {
    Bytes broken = elf;
    broken[at] ^= 0x10;
    EXPECT_FALSE(HoldsElfHeader(broken)) << at;
  }
  EXPECT_FALSE(HoldsElfHeader(std::span(elf).first(51)));
}

// MD5 for the digest drives, SHA-256 for the journal.
TEST(BinaryImages, DigestsAgainstRfc1321AndOpenSsl) {
  const std::pair<std::string, const char*> rfc[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  std::array<std::uint8_t, 16> digest{}, reference{};
  std::array<std::uint8_t, 32> sha256{};
  for (const auto& [text, expected] : rfc) {
    Md5Digest(digest, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(HexText(digest), expected) << '"' << text << '"';
  }
  // Against OpenSSL at every length where the padding moves into another block.
  Bytes data(1100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  for (std::size_t length = 0; length <= data.size(); length += length % 64 < 56 ? 7 : 1) {
    Md5Digest(digest, std::span(data.data(), length));
    EVP_Digest(data.data(), length, reference.data(), nullptr, EVP_md5(), nullptr);
    EXPECT_EQ(digest, reference) << length;
    EVP_Digest(data.data(), length, sha256.data(), nullptr, EVP_sha256(), nullptr);
    EXPECT_EQ(Sha256Of(std::span(data.data(), length)), sha256) << length;
  }
}

// The S-record families send the whole blocks the image fills plus one, so
// an image ending on a block boundary is followed by a block of 0xFF; the
// TK720 families send the image rounded up to whole blocks. The last block's
// addresses show each family's block size, base and read-back offset.
TEST(BlockPasses, BlockCountsAddressesAndErroneousLocations) {
  const std::tuple<const BlockFamily&, int, int, std::uint32_t, std::uint32_t> cases[] = {
      {NYM_FAMILY, 255, 1, 0x0, 0x2000},
      {NYM_FAMILY, 512, 3, 0x200, 0x2200},
      {NYM_FAMILY, 255999, 1000, 0x3E700, 0x40700},
      {TL3XX_FAMILY, 128, 2, 0x80, 0x80},
      {TL3XX_FAMILY, 65918, 515, 0x10100, 0x10100},
      {SERIES27_FAMILY, 122622, 479, 0x1DE00, 0x1DE00},
      {TK720_FAMILY, 256, 1, 0x4000, 0x4000},
      {TK720_FAMILY, 257, 2, 0x4100, 0x4100},
      {TK720_DIGEST_FAMILY, 512, 2, 0x8100, 0x8100},
  };
  for (const auto& [blocks, length, blockCount, lastWrite, lastReadBack] : cases) {
    const int count = BlockCount(blocks, length);
    EXPECT_EQ(count, blockCount) << length;
    EXPECT_EQ(WriteAddress(blocks, count - 1), lastWrite) << length;
    EXPECT_EQ(ReadBackAddress(blocks, count - 1), lastReadBack) << length;
  }
  // A read-back reply shorter than the block counts every missing byte.
  const std::tuple<const char*, int> replies[] = {
      {"01 02 03 04", 0}, {"01 FF 03 00", 2}, {"01 FF", 3}, {"", 4}, {"01 02 03 04 05", 0}};
  for (const auto& [reply, count] : replies)
    EXPECT_EQ(CountErroneousLocations(Hex("01 02 03 04"), Hex(reply)), count) << reply;
}

}  // namespace
}  // namespace kelvane
