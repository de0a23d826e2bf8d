#include "flash/block_passes.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "flash/block_families.h"
#include "unit_support.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using unit::Hex;

// The S-record families send the whole blocks the image fills plus one, so
// an image ending on a block boundary is followed by a block of 0xFF; the
// TK720 families send the image rounded up to whole blocks.
TEST(BlockPasses, BlockCounts) {
  struct Case {
    const char* family;
    const BlockFamily& blocks;
    int length;
    int count;
  };
  const Case cases[] = {
      {"Nym", NYM_FAMILY, 2, 1},
      {"Nym", NYM_FAMILY, 255, 1},
      {"Nym", NYM_FAMILY, 256, 2},
      {"Nym", NYM_FAMILY, 300, 2},
      {"Nym", NYM_FAMILY, 512, 3},
      {"Nym", NYM_FAMILY, 253800, 992},
      {"Nym", NYM_FAMILY, 255999, 1000},
      {"TL3xx", TL3XX_FAMILY, 127, 1},
      {"TL3xx", TL3XX_FAMILY, 128, 2},
      {"TL3xx", TL3XX_FAMILY, 65918, 515},
      {"27 series", SERIES27_FAMILY, 256, 2},
      {"27 series", SERIES27_FAMILY, 122622, 479},
      {"TK720", TK720_FAMILY, 12, 1},
      {"TK720", TK720_FAMILY, 256, 1},
      {"TK720", TK720_FAMILY, 257, 2},
      {"TK720 digest", TK720_DIGEST_FAMILY, 512, 2},
      {"TK720 digest", TK720_DIGEST_FAMILY, 513, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BlockCount(c.blocks, c.length), c.count) << c.family << " " << c.length;
  }
}

TEST(BlockPasses, BlockAddresses) {
  struct Case {
    const char* family;
    const BlockFamily& blocks;
    int block;
    std::uint32_t write;
    std::uint32_t readBack;
  };
  const Case cases[] = {
      {"Nym", NYM_FAMILY, 0, 0x0, 0x2000},
      {"Nym", NYM_FAMILY, 736, 0x2E000, 0x30000},
      {"TL3xx", TL3XX_FAMILY, 3, 0x180, 0x180},
      {"27 series", SERIES27_FAMILY, 478, 0x1DE00, 0x1DE00},
      {"TK720", TK720_FAMILY, 1, 0x4100, 0x4100},
      {"TK720 digest", TK720_DIGEST_FAMILY, 2, 0x8200, 0x8200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteAddress(c.blocks, c.block), c.write) << c.family << " " << c.block;
    EXPECT_EQ(ReadBackAddress(c.blocks, c.block), c.readBack) << c.family << " " << c.block;
  }
}

// Blocks are cut from the image in order; where the image ends inside a
// block the rest of the block is erased flash.
TEST(BlockPasses, BlockBytesPadWithErasedFlash) {
  Bytes image(300);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
  std::array<std::uint8_t, MAX_BLOCK_SIZE> scratch{};
  struct Case {
    int block;
    std::size_t firstImageByte;
    std::size_t imageBytes;
  };
  for (const Case c : {Case{0, 0, 128}, Case{2, 256, 44}, Case{3, 0, 0}}) {
    const auto bytes = BlockBytes(TL3XX_FAMILY, image, c.block, scratch);
    ASSERT_EQ(bytes.size(), 128u) << c.block;
    Bytes expected(128, 0xFF);
    for (std::size_t i = 0; i < c.imageBytes; ++i) expected[i] = image[c.firstImageByte + i];
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected) << c.block;
  }
}

// A read-back reply shorter than the block counts every missing byte.
TEST(BlockPasses, CountErroneousLocations) {
  struct Case {
    Bytes expected;
    Bytes reply;
    int errors;
  };
  const Case cases[] = {
      {Hex("01 02 03 04"), Hex("01 02 03 04"), 0}, {Hex("01 02 03 04"), Hex("01 FF 03 00"), 2},
      {Hex("01 02 03 04"), Hex("01 FF"), 3},       {Hex("01 02 03 04"), {}, 4},
      {Hex("01 02"), Hex("01 02 03 04"), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountErroneousLocations(c.expected, c.reply), c.errors)
        << ::testing::PrintToString(c.reply);
  }
}

}  // namespace
}  // namespace kelvane
