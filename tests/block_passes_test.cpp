#include "flash/block_passes.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "flash/block_families.h"
#include "unit_support.h"

namespace kelvane {
namespace {

using unit::Hex;

// The S-record families send the whole blocks the image fills plus one, so
// an image ending on a block boundary is followed by a block of 0xFF; the
// TK720 families send the image rounded up to whole blocks. The last block's
// addresses show each family's block size, base and read-back offset.
TEST(BlockPasses, BlockCountsAndAddresses) {
  struct Case {
    const char* family;
    const BlockFamily& blocks;
    int length;
    int count;
    std::uint32_t lastWrite;
    std::uint32_t lastReadBack;
  };
  const Case cases[] = {
      {"Nym", NYM_FAMILY, 255, 1, 0x0, 0x2000},
      {"Nym", NYM_FAMILY, 512, 3, 0x200, 0x2200},
      {"Nym", NYM_FAMILY, 253800, 992, 0x3DF00, 0x3FF00},
      {"Nym", NYM_FAMILY, 255999, 1000, 0x3E700, 0x40700},
      {"TL3xx", TL3XX_FAMILY, 128, 2, 0x80, 0x80},
      {"TL3xx", TL3XX_FAMILY, 65918, 515, 0x10100, 0x10100},
      {"27 series", SERIES27_FAMILY, 122622, 479, 0x1DE00, 0x1DE00},
      {"TK720", TK720_FAMILY, 256, 1, 0x4000, 0x4000},
      {"TK720", TK720_FAMILY, 257, 2, 0x4100, 0x4100},
      {"TK720 digest", TK720_DIGEST_FAMILY, 512, 2, 0x8100, 0x8100},
  };
  for (const Case& c : cases) {
    const int count = BlockCount(c.blocks, c.length);
    const std::string row = c.family + std::string(" ") + std::to_string(c.length);
    EXPECT_EQ(count, c.count) << row;
    EXPECT_EQ(WriteAddress(c.blocks, count - 1), c.lastWrite) << row;
    EXPECT_EQ(ReadBackAddress(c.blocks, count - 1), c.lastReadBack) << row;
  }
}

// A read-back reply shorter than the block counts every missing byte.
TEST(BlockPasses, CountErroneousLocations) {
  const std::tuple<const char*, int> replies[] = {
      {"01 02 03 04", 0}, {"01 FF 03 00", 2}, {"01 FF", 3}, {"", 4}, {"01 02 03 04 05", 0}};
  for (const auto& [reply, count] : replies)
    EXPECT_EQ(CountErroneousLocations(Hex("01 02 03 04"), Hex(reply)), count) << reply;
}

}  // namespace
}  // namespace kelvane
