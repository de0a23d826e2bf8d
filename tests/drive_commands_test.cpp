#include "link/drive_commands.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr ByteOrder MSB = ByteOrder::MostSignificantFirst;
constexpr ByteOrder LSB = ByteOrder::LeastSignificantFirst;

TEST(DriveCommands, ByteSwap32ReversesTheFourBytes) {
  const struct {
    std::uint32_t in, out;
  } cases[] = {
      {0x12345678, 0x78563412}, {0, 0}, {0xFF000000, 0x000000FF}, {0x00010000, 0x00000100}};
  for (const auto& c : cases) {
    EXPECT_EQ(ByteSwap32(c.in), c.out) << std::hex << c.in;
    EXPECT_EQ(ByteSwap32(ByteSwap32(c.in)), c.in) << std::hex << c.in;
  }
}

TEST(DriveCommands, ByteSwap32InPlaceTurnsOnlyItsFourBytesAndReturnsThem) {
  std::array<std::uint8_t, 6> bytes{0xEE, 0x12, 0x34, 0x56, 0x78, 0xEE};
  EXPECT_EQ(ByteSwap32InPlace(bytes.data() + 1), bytes.data() + 1);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 6>{0xEE, 0x78, 0x56, 0x34, 0x12, 0xEE}));
}

// The addresses of the families' flash blocks as the drives expect them.
TEST(DriveCommands, StoreAndLoadWord32InTheFamilysOrder) {
  const struct {
    const char* what;
    std::uint32_t value;
    ByteOrder order;
    std::array<std::uint8_t, 4> wire;
  } cases[] = {
      {"Nym block 0x100", 0x100, MSB, {0x00, 0x00, 0x01, 0x00}},
      {"27 series block 0x100", 0x100, LSB, {0x00, 0x01, 0x00, 0x00}},
      {"checksum sector, LSB first", 0x1DF00, LSB, {0x00, 0xDF, 0x01, 0x00}},
      {"checksum sector, MSB first", 0x1DF00, MSB, {0x00, 0x01, 0xDF, 0x00}},
      {"TK720 block", 0x4000, LSB, {0x00, 0x40, 0x00, 0x00}},
      {"all bytes distinct", 0x12345678, MSB, {0x12, 0x34, 0x56, 0x78}},
  };
  for (const auto& c : cases) {
    std::array<std::uint8_t, 4> at{0xEE, 0xEE, 0xEE, 0xEE};
    StoreWord32(at, c.value, c.order);
    EXPECT_EQ(at, c.wire) << c.what;
    EXPECT_EQ(LoadWord32(c.wire, c.order), c.value) << c.what;
  }
}

TEST(DriveCommands, WriteRequestIsAddressThenBlock) {
  const struct {
    const char* family;
    ByteOrder order;
    std::size_t blockSize;
    std::size_t payloadLength;
    std::array<std::uint8_t, 4> address;
  } cases[] = {
      {"Nym", MSB, 256, 260, {0x00, 0x00, 0x03, 0x00}},
      {"TL3xx", LSB, 128, 132, {0x00, 0x03, 0x00, 0x00}},
      {"27 series", LSB, 256, 260, {0x00, 0x03, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    Bytes block(c.blockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 1);
    Bytes request(260, 0xEE);
    ASSERT_EQ(BuildWriteBlockRequest(request, 0x300, c.order, block), c.payloadLength) << c.family;
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 4),
              Bytes(c.address.begin(), c.address.end()))
        << c.family;
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 4 + c.blockSize), block) << c.family;
  }
}

TEST(DriveCommands, WriteRequestThatDoesNotFitIsRefusedUntouched) {
  const Bytes block(256, 0x11);
  Bytes request(259, 0xEE);
  EXPECT_EQ(BuildWriteBlockRequest(request, 0x100, MSB, block), 0u);
  EXPECT_EQ(request, Bytes(259, 0xEE));
}

TEST(DriveCommands, ReadRequestCarriesAddressAndLengthInTheFamilysOrder) {
  const struct {
    const char* family;
    ByteOrder order;
    std::uint32_t length;
    std::size_t fieldBytes;
    Bytes wire;  // 0 payload bytes: refused
  } cases[] = {
      {"Nym", MSB, 256, 2, {0x00, 0x00, 0x21, 0x00, 0x01, 0x00}},
      {"TL3xx", LSB, 128, 2, {0x00, 0x21, 0x00, 0x00, 0x80, 0x00}},
      {"27 series", LSB, 256, 2, {0x00, 0x21, 0x00, 0x00, 0x00, 0x01}},
      {"TK720", LSB, 256, 4, {0x00, 0x21, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
      {"largest 16-bit count", LSB, 0xFFFF, 2, {0x00, 0x21, 0x00, 0x00, 0xFF, 0xFF}},
      {"count too big for 16 bits", LSB, 0x10000, 2, {}},
      {"no such field width", LSB, 256, 3, {}},
  };
  for (const auto& c : cases) {
    Bytes request(8, 0xEE);
    const std::size_t n = BuildReadBlockRequest(request, 0x2100, c.order, c.length, c.fieldBytes);
    ASSERT_EQ(n, c.wire.size()) << c.family;
    EXPECT_EQ(Bytes(request.begin(), request.begin() + n), c.wire) << c.family;
    if (n == 0) {
      EXPECT_EQ(request, Bytes(8, 0xEE)) << c.family;
    }
  }
}

TEST(DriveCommands, ReadRequestThatDoesNotFitIsRefused) {
  Bytes small(7, 0xEE);
  EXPECT_EQ(BuildReadBlockRequest(small, 0x4000, LSB, 256, 4), 0u);
  EXPECT_EQ(small, Bytes(7, 0xEE));
  EXPECT_EQ(BuildReadBlockRequest(small, 0x4000, LSB, 256, 2), 6u);
}

}  // namespace
}  // namespace kelvane
