#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <vector>

#include "image/checksummed_image.h"
#include "image/digest_stamped_image.h"
#include "image/md5_digest.h"
#include "tests/support/temp_dir.h"
#include "unit_support.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using unit::Hex;

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes)
    text += "0123456789ABCDEF"[b >> 4], text += "0123456789ABCDEF"[b & 15];
  return text;
}

// OpenSSL's MD5, the independent reference for our own.
std::string OpenSslMd5(const std::uint8_t* data, std::size_t length) {
  std::array<std::uint8_t, 16> digest{};
  EVP_Digest(data, length, digest.data(), nullptr, EVP_md5(), nullptr);
  return HexText(digest);
}

Bytes Counting(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

const std::string EMPTY = "File is empty. Nothing to load.\r\n";
const std::string SHORT = "File is too short for the image header. Nothing to load.\r\n";

// Header F1E2D3C4 and the word count, the file from byte 8 on, 0xFF up to a
// whole word, then the check word that makes the big-endian words sum to zero;
// erased flash after it to the end of the last block.
TEST(BinaryImages, ChecksummedImage) {
  struct Case {
    Bytes file;
    Bytes image;  // empty: refused with `printed`
    std::string printed = "";
  };
  const Case cases[] = {
      {Bytes(8, 0x40), Hex("F1 E2 D3 C4 00 00 00 03 0E 1D 2C 39")},
      {Counting(16), Hex("F1 E2 D3 C4 00 00 00 05 08 09 0A 0B 0C 0D 0E 0F FA 07 14 1D")},
      {Bytes(9, 0), Hex("F1 E2 D3 C4 00 00 00 04 00 FF FF FF 0D 1D 2C 39")},
      {{}, {}, EMPTY},
      {Bytes(7, 0), {}, SHORT},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    unit::Output out;
    ChecksummedImage image;
    const int result = PrepareChecksummedImage(
        dir.Write("fw.bin", std::string(c.file.begin(), c.file.end())).c_str(), image, out.get());
    EXPECT_EQ(result, c.image.empty() ? 1 : 0) << c.file.size();
    EXPECT_EQ(out.text(), c.printed) << c.file.size();
    if (result != 0) continue;
    EXPECT_EQ(Bytes(image.bytes.begin(), image.bytes.begin() + image.length), c.image);
    ASSERT_EQ(image.bytes.size(), c.file.size() + 512);
    EXPECT_TRUE(std::all_of(image.bytes.begin() + image.length, image.bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
  }
}

// Digest, time stamp (least significant byte first), length field (most
// significant first), the file from byte 24 on; the digest covers the length
// field and everything after it up to a whole word, never the time stamp.
TEST(BinaryImages, DigestStampedImage) {
  struct Case {
    Bytes file;
    const char* stampAndLength;  // null: refused with `printed`
    std::string md5 = "";        // empty: OpenSSL's digest of the image from byte 20 on
    std::string printed = "";
  };
  const Case cases[] = {
      {Bytes(32, 0), "78 56 34 12 00 00 00 0C", "E1AA110F246A7A3D9332A6D5F672DBC8"},
      {Bytes(30, 0), "78 56 34 12 00 00 00 0C", "EA26453A2641CE4E268B1AF1E330A8D2"},
      {Bytes(24, 9), "78 56 34 12 00 00 00 04"},
      {Counting(1000), "78 56 34 12 00 00 03 D4"},
      {{}, nullptr, "", EMPTY},
      {Bytes(23, 0), nullptr, "", SHORT},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    unit::Output out;
    DigestStampedImage image;
    const int result = PrepareDigestStampedImage(
        dir.Write("fw.bin", std::string(c.file.begin(), c.file.end())).c_str(), 0x12345678, image,
        out.get());
    EXPECT_EQ(result, c.stampAndLength == nullptr ? 1 : 0) << c.file.size();
    if (result != 0) {
      EXPECT_EQ(out.text(), c.printed) << c.file.size();
      continue;
    }
    const std::size_t length = (c.file.size() + 3) / 4 * 4;
    ASSERT_EQ(image.length, static_cast<int>(length));
    const std::string md5 =
        c.md5.empty() ? OpenSslMd5(image.bytes.data() + 20, length - 20) : c.md5;
    EXPECT_EQ(HexText(image.digest()), md5) << c.file.size();
    EXPECT_EQ(Bytes(image.bytes.begin() + 16, image.bytes.begin() + 24), Hex(c.stampAndLength));
    EXPECT_TRUE(std::equal(c.file.begin() + 24, c.file.end(), image.bytes.begin() + 24));
    EXPECT_TRUE(std::all_of(image.bytes.begin() + c.file.size(), image.bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(out.text(),
              "Image size : " + std::to_string(length - 20) + "\nFile MD5 : " + md5 + "\n\n");
  }
}

// The image length travels as an int: a file too long for it is refused
// before anything is read (the file is sparse, nothing is written to disk).
TEST(BinaryImages, FileTooLongForTheImageIsRefused) {
  testing::TempDir dir;
  const std::string file = dir.Write("fw.bin", "");
  ASSERT_EQ(truncate(file.c_str(), INT_MAX - 511), 0);
  ChecksummedImage image;
  unit::Output out;
  EXPECT_EQ(PrepareChecksummedImage(file.c_str(), image, out.get()), 1);
  EXPECT_EQ(out.text(), "Not enough memory to load file " + file + "\r\n");
}

TEST(BinaryImages, Md5AgainstRfc1321AndOpenSsl) {
  const std::pair<std::string, const char*> rfc[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  std::array<std::uint8_t, 16> digest{};
  for (const auto& [text, expected] : rfc) {
    Md5Digest(digest, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(HexText(digest), expected) << '"' << text << '"';
  }
  // Every length where the padding moves into another 64-byte block.
  const Bytes data = Counting(1100);
  for (std::size_t length = 0; length <= data.size(); length += length % 64 < 56 ? 7 : 1) {
    Md5Digest(digest, std::span(data.data(), length));
    EXPECT_EQ(HexText(digest), OpenSslMd5(data.data(), length)) << length;
  }
}

}  // namespace
}  // namespace kelvane
