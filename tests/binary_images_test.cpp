#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
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
  for (std::uint8_t b : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

// OpenSSL's MD5, the independent reference for our own.
std::string OpenSslMd5(const std::uint8_t* data, std::size_t length) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int digestLength = 0;
  EVP_Digest(data, length, digest.data(), &digestLength, EVP_md5(), nullptr);
  return HexText(std::span(digest.data(), digestLength));
}

Bytes Counting(std::size_t length, std::uint8_t first) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

bool AllErased(Bytes::const_iterator begin, Bytes::const_iterator end) {
  return std::all_of(begin, end, [](std::uint8_t b) { return b == 0xFF; });
}

// Header F1E2D3C4 and the word count, the file from byte 8 on, 0xFF up to a
// whole word, then the check word that makes the big-endian words sum to zero.
TEST(BinaryImages, ChecksummedImage) {
  struct Case {
    const char* name;
    Bytes file;
    Bytes image;
  };
  const Case cases[] = {
      {"header room only", Counting(8, 0x40), Hex("F1 E2 D3 C4 00 00 00 03 0E 1D 2C 39")},
      {"bytes 00 to 0F", Counting(16, 0),
       Hex("F1 E2 D3 C4 00 00 00 05 08 09 0A 0B 0C 0D 0E 0F FA 07 14 1D")},
      {"nine bytes", Bytes(9, 0), Hex("F1 E2 D3 C4 00 00 00 04 00 FF FF FF 0D 1D 2C 39")},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    unit::Output out;
    ChecksummedImage image;
    const std::string bytes(c.file.begin(), c.file.end());
    ASSERT_EQ(PrepareChecksummedImage(dir.Write("fw.bin", bytes).c_str(), image, out.get()), 0)
        << c.name << out.text();
    EXPECT_EQ(image.length, static_cast<int>(c.image.size())) << c.name;
    EXPECT_EQ(Bytes(image.bytes.begin(), image.bytes.begin() + image.length), c.image) << c.name;
    // The last block goes out whole: erased flash after the check word.
    ASSERT_EQ(image.bytes.size(), c.file.size() + 512) << c.name;
    EXPECT_TRUE(AllErased(image.bytes.begin() + image.length, image.bytes.end())) << c.name;
  }
}

// Digest, time stamp (least significant byte first), length field (most
// significant first), the file from byte 24 on; the digest covers the length
// field and everything after it up to a whole word, never the time stamp.
TEST(BinaryImages, DigestStampedImage) {
  struct Case {
    const char* name;
    Bytes file;
    int length;
    const char* lengthField;
    std::string md5;  // empty: OpenSSL's digest of bytes 20 to length - 1
  };
  const Case cases[] = {
      {"32 zero bytes", Bytes(32, 0), 32, "00 00 00 0C", "E1AA110F246A7A3D9332A6D5F672DBC8"},
      {"30 zero bytes, padded", Bytes(30, 0), 32, "00 00 00 0C",
       "EA26453A2641CE4E268B1AF1E330A8D2"},
      {"length field only", Bytes(24, 9), 24, "00 00 00 04", ""},
      {"1000 bytes", Counting(1000, 0), 1000, "00 00 03 D4", ""},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    const std::string file = dir.Write("fw.bin", std::string(c.file.begin(), c.file.end()));
    DigestStampedImage image;
    unit::Output out;
    ASSERT_EQ(PrepareDigestStampedImage(file.c_str(), 0x12345678, image, out.get()), 0) << c.name;
    ASSERT_EQ(image.length, c.length) << c.name;
    const std::string md5 =
        c.md5.empty() ? OpenSslMd5(image.bytes.data() + 20, c.length - 20) : c.md5;
    EXPECT_EQ(Bytes(image.bytes.begin() + 16, image.bytes.begin() + 24),
              unit::Cat({Hex("78 56 34 12"), Hex(c.lengthField)}))
        << c.name;
    EXPECT_TRUE(std::equal(c.file.begin() + 24, c.file.end(), image.bytes.begin() + 24)) << c.name;
    EXPECT_TRUE(AllErased(image.bytes.begin() + c.file.size(), image.bytes.end())) << c.name;
    EXPECT_EQ(HexText(image.digest()), md5) << c.name;
    EXPECT_EQ(out.text(),
              "Image size : " + std::to_string(c.length - 20) + "\nFile MD5 : " + md5 + "\n\n")
        << c.name;
  }
}

TEST(BinaryImages, FilesWithoutRoomForTheHeaderAreRefused) {
  const std::string EMPTY = "File is empty. Nothing to load.\r\n";
  const std::string SHORT = "File is too short for the image header. Nothing to load.\r\n";
  struct Case {
    std::size_t length;
    std::string checksummed;
    std::string stamped;
  };
  const Case cases[] = {{0, EMPTY, EMPTY}, {7, SHORT, SHORT}, {8, "", SHORT}, {23, "", SHORT}};
  for (const Case& c : cases) {
    testing::TempDir dir;
    const std::string file = dir.Write("fw.bin", std::string(c.length, '\1'));
    unit::Output checksummedOut;
    ChecksummedImage checksummed;
    const int checksummedResult =
        PrepareChecksummedImage(file.c_str(), checksummed, checksummedOut.get());
    EXPECT_EQ(checksummedResult, c.checksummed.empty() ? 0 : 1) << c.length;
    EXPECT_EQ(checksummedOut.text(), c.checksummed) << c.length;
    unit::Output stampedOut;
    DigestStampedImage stamped;
    EXPECT_EQ(PrepareDigestStampedImage(file.c_str(), 0, stamped, stampedOut.get()), 1);
    EXPECT_EQ(stampedOut.text(), c.stamped) << c.length;
  }
  unit::Output out;
  ChecksummedImage image;
  EXPECT_EQ(PrepareChecksummedImage("/nonexistent/fw.bin", image, out.get()), 1);
  EXPECT_EQ(out.text(), "Can't open file /nonexistent/fw.bin\r\n");
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
  const Bytes data = Counting(1100, 0x37);
  for (std::size_t length = 0; length <= data.size(); length += length % 64 < 56 ? 7 : 1) {
    Md5Digest(digest, std::span(data.data(), length));
    EXPECT_EQ(HexText(digest), OpenSslMd5(data.data(), length)) << length;
  }
}

}  // namespace
}  // namespace kelvane
