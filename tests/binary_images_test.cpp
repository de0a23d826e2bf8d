#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <string>

#include "image/checksummed_image.h"
#include "image/digest_stamped_image.h"
#include "image/md5_digest.h"
#include "tests/support/temp_dir.h"
#include "unit_support.h"

namespace kelvane {
namespace {

using unit::Bytes;
using unit::Hex;

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes)
    text += "0123456789ABCDEF"[b >> 4], text += "0123456789ABCDEF"[b & 15];
  return text;
}

const std::string EMPTY = "File is empty. Nothing to load.\r\n";
const std::string SHORT = "File is too short for the image header. Nothing to load.\r\n";

// The end-to-end loads show both images for a file of whole words; here the
// padding of a file that ends mid-word, and the refusals. Checksummed: header
// F1E2D3C4, word count, the file from byte 8, 0xFF to a whole word, the word
// that makes the big-endian sum zero, erased flash to the end of the block.
// Digest-stamped: the digest (over byte 20 on, hand-checked), time stamp LSB
// first, length MSB first, the file from byte 24.
TEST(BinaryImages, PaddedToWholeWordsOrRefused) {
  struct Case {
    bool stamped;
    Bytes file;
    Bytes image;  // checksummed: all of it; stamped: bytes 16 to 23; empty: refused
    std::string printed;
  };
  const std::string STAMPED = "Image size : 12\nFile MD5 : EA26453A2641CE4E268B1AF1E330A8D2\n\n";
  const Case cases[] = {
      {false, Bytes(9, 0), Hex("F1 E2 D3 C4 00 00 00 04 00 FF FF FF 0D 1D 2C 39"), ""},
      {false, {}, {}, EMPTY},
      {false, Bytes(7, 0), {}, SHORT},
      {true, Bytes(30, 0), Hex("78 56 34 12 00 00 00 0C"), STAMPED},
      {true, {}, {}, EMPTY},
      {true, Bytes(23, 0), {}, SHORT},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    unit::Output out;
    const std::string name = dir.Write("fw.bin", std::string(c.file.begin(), c.file.end()));
    ChecksummedImage sum;
    DigestStampedImage stamped;
    const int result = c.stamped
                           ? PrepareDigestStampedImage(name.c_str(), 0x12345678, stamped, out.get())
                           : PrepareChecksummedImage(name.c_str(), sum, out.get());
    const std::string row = std::to_string(c.stamped) + " " + std::to_string(c.file.size());
    EXPECT_EQ(result, c.image.empty() ? 1 : 0) << row;
    EXPECT_EQ(out.text(), c.printed) << row;
    if (result != 0) continue;
    const std::vector<std::uint8_t>& bytes = c.stamped ? stamped.bytes : sum.bytes;
    const auto image = bytes.begin() + (c.stamped ? 16 : 0);
    EXPECT_EQ(Bytes(image, image + c.image.size()), c.image) << row;
    const int length = c.stamped ? stamped.length : sum.length;
    EXPECT_EQ(length, c.stamped ? 32 : 16) << row;
    EXPECT_TRUE(std::all_of(bytes.begin() + (c.stamped ? 30 : 16), bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    if (!c.stamped) {
      EXPECT_EQ(bytes.size(), c.file.size() + 512);
    }
  }
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
  std::array<std::uint8_t, 16> digest{}, reference{};
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
  }
}

}  // namespace
}  // namespace kelvane
