#include "flash/block_passes.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "flash/block_families.h"
#include "link/frame_exchange.h"
#include "scripted_line.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;
using testing::Concat;
using testing::Pattern;
using testing::RequestFrame;
using testing::ScriptedLine;

using Bytes = std::vector<std::uint8_t>;

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// The image's block as the drive must receive it: 0xFF past the image's end.
Bytes ExpectedBlock(const Bytes& image, std::size_t block, std::size_t size) {
  Bytes expected(size, 0xFF);
  for (std::size_t i = 0; i < size && block * size + i < image.size(); ++i) {
    expected[i] = image[block * size + i];
  }
  return expected;
}

struct OpenLine {
  ScriptedLine line;
  SerialPort port;
  OpenLine() { EXPECT_EQ(port.OpenPath(line.path().c_str(), 38400), 1); }
};

// ---- addresses and comparison ---------------------------------------------

TEST(BlockAddresses, EachFamilysFlashLayout) {
  struct Case {
    const char* name;
    BlockFamily family;
    int block;
    std::uint32_t write;
    std::uint32_t read;
  };
  const std::vector<Case> cases = {
      {"Nym reads back 0x2000 higher", NYM_FAMILY, 3, 0x300, 0x2300},
      {"Nym last cleared sector", NYM_FAMILY, 991, 0x3DF00, 0x3FF00},
      {"Nym parameters section", NYM_FAMILY, 736, 0x2E000, 0x30000},
      {"TL3xx 128-byte sectors", TL3XX_FAMILY, 3, 384, 384},
      {"27 series sector 479", SERIES27_FAMILY, 479, 0x1DF00, 0x1DF00},
      {"TK720 from 0x4000", TK720_FAMILY, 3, 0x4300, 0x4300},
      {"TK720 digest from 0x8000", TK720_DIGEST_FAMILY, 3, 0x8300, 0x8300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WriteAddress(c.family, c.block), c.write);
    EXPECT_EQ(ReadBackAddress(c.family, c.block), c.read);
  }
}

TEST(CountErroneousLocations, CountsDifferencesAndMissingBytes) {
  const Bytes block = Pattern(256, 1);
  Bytes twoWrong = block;
  twoWrong[0] ^= 0x01;
  twoWrong[255] = 0x00;
  struct Case {
    const char* name;
    Bytes reply;
    int expected;
  };
  const std::vector<Case> cases = {
      {"identical", block, 0},
      {"first and last byte differ", twoWrong, 2},
      {"reply six bytes short", Slice(block, 0, 250), 6},
      {"short reply that also differs", Slice(twoWrong, 0, 200), 57},
      {"empty reply", {}, 256},
      {"longer reply: the tail is not compared", Concat({block, Bytes(40, 0x00)}), 0},
      {"all erased", Bytes(256, 0xFF),
       256 - static_cast<int>(std::count(block.begin(), block.end(), 0xFF))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CountErroneousLocations(block, c.reply), c.expected);
  }
}

TEST(BlockBytes, PadsWithErasedFlashPastTheImage) {
  const Bytes image = Pattern(300, 9);
  std::array<std::uint8_t, MAX_BLOCK_SIZE> scratch{};
  struct Case {
    BlockFamily family;
    int block;
  };
  for (const Case& c : std::vector<Case>{{NYM_FAMILY, 0},
                                         {NYM_FAMILY, 1},
                                         {NYM_FAMILY, 2},
                                         {TL3XX_FAMILY, 2},
                                         {TL3XX_FAMILY, 3}}) {
    SCOPED_TRACE(c.block);
    const auto bytes = BlockBytes(c.family, image, c.block, scratch);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()),
              ExpectedBlock(image, static_cast<std::size_t>(c.block), c.family.blockSize));
  }
}

// ---- write pass ----------------------------------------------------------------

struct WriteLayoutCase {
  const char* name;
  BlockFamily family;
  Bytes firstAddress;   // block 0's address field as the drive must see it
  Bytes secondAddress;  // block 1's address field as the drive must see it
  std::string progress;
};

TEST(WritePass, SendsEveryBlockInTheFamilysLayout) {
  const std::vector<WriteLayoutCase> cases = {
      {"Nym, most significant byte first",
       NYM_FAMILY,
       {0, 0, 0, 0},
       {0x00, 0x00, 0x01, 0x00},
       "   1 of    2 sectors updated\r   2 of    2 sectors updated\r"},
      {"TL3xx, least significant byte first",
       TL3XX_FAMILY,
       {0, 0, 0, 0},
       {0x80, 0x00, 0x00, 0x00},
       "   1 of    2 sectors updated\r   2 of    2 sectors updated\r"},
      {"27 series",
       SERIES27_FAMILY,
       {0, 0, 0, 0},
       {0x00, 0x01, 0x00, 0x00},
       "   1 of    2 sectors updated\r   2 of    2 sectors updated\r"},
      {"TK720 from 0x4000",
       TK720_FAMILY,
       {0x00, 0x40, 0x00, 0x00},
       {0x00, 0x41, 0x00, 0x00},
       "   1 of    2 blocks updated\r   2 of    2 blocks updated\r"},
      {"TK720 digest from 0x8000",
       TK720_DIGEST_FAMILY,
       {0x00, 0x80, 0x00, 0x00},
       {0x00, 0x81, 0x00, 0x00},
       "   1 of    2 blocks updated\r   2 of    2 blocks updated\r"},
  };
  // 300 bytes: the second block is partly past the image for 256-byte blocks.
  const Bytes image = Pattern(300, 3);
  for (const WriteLayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    OpenLine line;
    line.line.QueueReply(0);
    line.line.QueueReply(0);
    CapturedOutput out;
    const BlockRange range{.image = image, .first = 0, .total = 2};
    ASSERT_EQ(RunWritePass(line.port, c.family, range, out.stream()), 0);
    EXPECT_EQ(out.text(),
              "Updating firmware:\r\n" + c.progress + "\r\nFirmware was successufully updated\r\n");
    const auto requests = line.line.TakeRequests();
    ASSERT_EQ(requests.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(requests[k].command, CMD_WRITE_BLOCK);
      ASSERT_EQ(requests[k].payload.size(), 4 + c.family.blockSize);
      EXPECT_EQ(Slice(requests[k].payload, 4, c.family.blockSize),
                ExpectedBlock(image, k, c.family.blockSize));
    }
    EXPECT_EQ(Slice(requests[0].payload, 0, 4), c.firstAddress);
    EXPECT_EQ(Slice(requests[1].payload, 0, 4), c.secondAddress);
  }
}

TEST(WritePass, StartsLateButCountsToTheTotal) {
  // Erasing only the Nym parameters: sectors 736 and on, counted "of" all.
  OpenLine line;
  line.line.QueueReply(0);
  line.line.QueueReply(0);
  CapturedOutput out;
  const Bytes erased(NYM_FAMILY.blockSize * 738, 0xFF);
  const BlockRange range{.image = erased, .first = 736, .total = 738};
  ASSERT_EQ(RunWritePass(line.port, NYM_FAMILY, range, out.stream()), 0);
  EXPECT_EQ(out.text(),
            "Updating firmware:\r\n 737 of  738 sectors updated\r 738 of  738 sectors updated\r"
            "\r\nFirmware was successufully updated\r\n");
  const auto requests = line.line.TakeRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(Slice(requests[0].payload, 0, 4), (Bytes{0x00, 0x02, 0xE0, 0x00}));
  EXPECT_EQ(Slice(requests[1].payload, 0, 4), (Bytes{0x00, 0x02, 0xE1, 0x00}));
}

TEST(WritePass, StopsAtTheFirstBlockTheDriveRefuses) {
  struct Case {
    const char* name;
    BlockFamily family;
    std::uint8_t status;
    bool corruptSum;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"Nym shows the drive's code", NYM_FAMILY, 5, false,
       "FLASH update failed on sector 2 : error code 5\r\n"},
      {"Nym bad reply checksum", NYM_FAMILY, 0, true,
       "FLASH update failed on sector 2 : error code 1\r\n"},
      {"TL3xx without a code", TL3XX_FAMILY, 5, false, "FLASH update failed on sector 2\r\n"},
      {"27 series without a code", SERIES27_FAMILY, 200, false,
       "FLASH update failed on sector 2\r\n"},
      {"TK720 names the block", TK720_FAMILY, 5, false, "FLASH update failed on block 2\r\n"},
      {"TK720 digest names the block", TK720_DIGEST_FAMILY, 5, false,
       "FLASH update failed on block 2\r\n"},
  };
  const Bytes image = Pattern(1024, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenLine line;
    line.line.QueueReply(0);
    line.line.QueueReply(0);
    const Bytes payload{0x01};
    line.line.QueueReply(
        c.status,
        c.corruptSum ? std::span<const std::uint8_t>(payload) : std::span<const std::uint8_t>(),
        c.corruptSum);
    line.line.QueueReply(0);  // never asked for
    CapturedOutput out;
    const BlockRange range{.image = image, .first = 0, .total = 4};
    EXPECT_EQ(RunWritePass(line.port, c.family, range, out.stream()), 1);
    const std::string unit = c.family.unit;
    EXPECT_EQ(out.text(), "Updating firmware:\r\n   1 of    4 " + unit +
                              "s updated\r   2 of    4 " + unit + "s updated\r" + c.message);
    EXPECT_EQ(line.line.TakeRequests().size(), 3u);
  }
}

// ---- verify pass -------------------------------------------------------------------

struct ReadLayoutCase {
  const char* name;
  BlockFamily family;
  Bytes secondRequest;  // block 1's read request payload
};

TEST(VerifyPass, AsksForEveryBlockInTheFamilysLayout) {
  const std::vector<ReadLayoutCase> cases = {
      {"Nym: 0x2100, length 01 00", NYM_FAMILY, {0x00, 0x00, 0x21, 0x00, 0x01, 0x00}},
      {"TL3xx: 128, length 80 00", TL3XX_FAMILY, {0x80, 0x00, 0x00, 0x00, 0x80, 0x00}},
      {"27 series: length 00 01", SERIES27_FAMILY, {0x00, 0x01, 0x00, 0x00, 0x00, 0x01}},
      {"TK720: 32-bit length", TK720_FAMILY, {0x00, 0x41, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
  };
  const Bytes image = Pattern(300, 11);
  for (const ReadLayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    OpenLine line;
    const std::size_t size = c.family.blockSize;
    line.line.QueueReply(0, ExpectedBlock(image, 0, size));
    line.line.QueueReply(0, ExpectedBlock(image, 1, size));
    CapturedOutput out;
    bool matched = false;
    const BlockRange range{.image = image, .first = 0, .total = 2};
    ASSERT_EQ(RunVerifyPass(line.port, c.family, range, matched, out.stream()), 0);
    EXPECT_TRUE(matched);
    const std::string unit = c.family.unit;
    EXPECT_EQ(out.text(), "Verifying firmware:\r\n   1 of    2 " + unit +
                              "s verifyed\r   2 of    2 " + unit + "s verifyed\r");
    const auto requests = line.line.TakeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].command, CMD_READ_BLOCK);
    EXPECT_EQ(requests[1].command, CMD_READ_BLOCK);
    EXPECT_EQ(requests[1].payload, c.secondRequest);
  }
}

TEST(VerifyPass, ReportsEveryMismatchAndGoesOn) {
  const Bytes image = Pattern(3 * 256, 21);
  Bytes threeWrong = ExpectedBlock(image, 1, 256);
  threeWrong[0] ^= 0xFF;
  threeWrong[100] ^= 0x10;
  threeWrong[255] ^= 0x01;
  struct Case {
    const char* name;
    BlockFamily family;
    Bytes secondReply;
    bool matched;
    std::string secondLine;
  };
  const std::vector<Case> cases = {
      {"all agree", SERIES27_FAMILY, ExpectedBlock(image, 1, 256), true,
       "   2 of    3 sectors verifyed\r"},
      {"three bytes differ", NYM_FAMILY, threeWrong, false,
       " Sector    2 has    3 errorneous location(s)\r\n"},
      {"TK720 says Block", TK720_FAMILY, threeWrong, false,
       " Block    2 has    3 errorneous location(s)\r\n"},
      {"short reply: missing bytes count", SERIES27_FAMILY,
       Slice(ExpectedBlock(image, 1, 256), 0, 250), false,
       " Sector    2 has    6 errorneous location(s)\r\n"},
      {"empty reply: every byte counts",
       NYM_FAMILY,
       {},
       false,
       " Sector    2 has  256 errorneous location(s)\r\n"},
      {"longer reply: only the block is compared", NYM_FAMILY,
       Concat({ExpectedBlock(image, 1, 256), Bytes(40, 0x00)}), true,
       "   2 of    3 sectors verifyed\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenLine line;
    line.line.QueueReply(0, ExpectedBlock(image, 0, 256));
    line.line.QueueReply(0, c.secondReply);
    line.line.QueueReply(0, ExpectedBlock(image, 2, 256));
    CapturedOutput out;
    bool matched = !c.matched;
    const BlockRange range{.image = image, .first = 0, .total = 3};
    ASSERT_EQ(RunVerifyPass(line.port, c.family, range, matched, out.stream()), 0);
    EXPECT_EQ(matched, c.matched);
    const std::string unit = c.family.unit;
    EXPECT_EQ(out.text(), "Verifying firmware:\r\n   1 of    3 " + unit + "s verifyed\r" +
                              c.secondLine + "   3 of    3 " + unit + "s verifyed\r");
    EXPECT_EQ(line.line.TakeRequests().size(), 3u);
  }
}

TEST(VerifyPass, StopsAtTheFirstFailedExchange) {
  struct Case {
    const char* name;
    BlockFamily family;
    std::uint8_t status;
    bool corruptSum;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"drive status", NYM_FAMILY, 7, false,
       "FLASH verification failed on sector 1 because of communication error 7\r\n"},
      {"bad payload checksum", TL3XX_FAMILY, 0, true,
       "FLASH verification failed on sector 1 because of communication error 1\r\n"},
      {"TK720 names the block", TK720_FAMILY, 18, false,
       "FLASH verification failed on block 1 because of communication error 18\r\n"},
  };
  const Bytes image = Pattern(1024, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenLine line;
    const std::size_t size = c.family.blockSize;
    line.line.QueueReply(0, ExpectedBlock(image, 0, size));
    line.line.QueueReply(c.status, ExpectedBlock(image, 1, size), c.corruptSum);
    line.line.QueueReply(0, ExpectedBlock(image, 2, size));  // never asked for
    CapturedOutput out;
    bool matched = true;
    const BlockRange range{.image = image, .first = 0, .total = 3};
    EXPECT_EQ(RunVerifyPass(line.port, c.family, range, matched, out.stream()), 1);
    const std::string unit = c.family.unit;
    EXPECT_EQ(out.text(),
              "Verifying firmware:\r\n   1 of    3 " + unit + "s verifyed\r" + c.message);
    EXPECT_EQ(line.line.TakeRequests().size(), 2u);
  }
}

TEST(PrintVerdict, NamesTheDriveOnMismatch) {
  struct Case {
    BlockFamily family;
    bool matched;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {NYM_FAMILY, true, "\r\nFirmware was successufully verifyed\r\n"},
      {NYM_FAMILY, false, "\r\nFirmware in the Nym7700 drive does not much the file fw.s\r\n"},
      {TL3XX_FAMILY, false, "\r\nFirmware in the TL3xx drive does not much the file fw.s\r\n"},
      {SERIES27_FAMILY, false, "\r\nFirmware in the TL3xx drive does not much the file fw.s\r\n"},
      {TK720_FAMILY, false, "\r\nFirmware in the TK720 drive does not much the file fw.s\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family.driveName);
    CapturedOutput out;
    PrintVerdict(c.family, c.matched, "fw.s", out.stream());
    EXPECT_EQ(out.text(), c.expected);
  }
}

}  // namespace
}  // namespace kelvane
