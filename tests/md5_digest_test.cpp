#include "image/md5_digest.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {
namespace {

std::array<std::uint8_t, 16> Digest(std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 16> digest;
  Md5Digest(digest, data);
  return digest;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string hex;
  for (std::uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

TEST(Md5Digest, MatchesTheRfc1321TestSuite) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(c.text.data()),
                                             c.text.size());
    EXPECT_EQ(Hex(Digest(data)), c.digest) << '"' << c.text << '"';
  }
}

// Every length up to 200, and the lengths around each multiple of 64 up to
// 4 KiB, where the padding moves into a second block, compared with an
// independent implementation. The data starts one byte into its buffer, so
// nothing depends on its alignment.
TEST(Md5Digest, MatchesAReferenceForEveryPaddingCase) {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (std::size_t block = 256; block <= 4096; block += 64) {
    for (std::size_t n = block - 9; n <= block + 1; ++n) lengths.push_back(n);
  }
  std::vector<std::uint8_t> buffer(4096 + 2);
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    buffer[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
  }
  for (std::size_t length : lengths) {
    const std::uint8_t* data = buffer.data() + 1;
    std::array<std::uint8_t, 16> expected;
    unsigned int expectedLength = 0;
    ASSERT_EQ(EVP_Digest(data, length, expected.data(), &expectedLength, EVP_md5(), nullptr), 1);
    EXPECT_EQ(Hex(Digest({data, length})), Hex(expected)) << length;
  }
}

}  // namespace
}  // namespace kelvane
