#include "link/frame_exchange.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "link/drive_commands.h"
#include "monitor/frame_codec.h"
#include "unit_support.h"

namespace kelvane {
namespace {

using unit::Bytes;
using unit::Cat;
using unit::Hex;

// Request frames as the drives expect them on the line, written out by hand.
TEST(FrameExchange, RequestsGoOutAsTheDrivesExpect) {
  std::array<std::uint8_t, 8> read{};
  const auto Read = [&](std::uint32_t address, ByteOrder order, std::uint32_t length,
                        std::size_t fieldBytes) {
    return Bytes(read.begin(),
                 read.begin() + BuildReadBlockRequest(read, address, order, length, fieldBytes));
  };
  const std::tuple<const char*, int, Bytes, Bytes> cases[] = {
      {"identify", CMD_IDENTIFY, {}, Hex("55 AA 00 00 10 10")},
      {"Nym read-back of sector 736", CMD_READ_BLOCK,
       Read(0x30000, ByteOrder::MostSignificantFirst, 256, 2),
       Hex("55 AA 06 00 12 18 00 03 00 00 01 00 04")},
      {"TK720 read of block 1", CMD_READ_BLOCK,
       Read(0x4100, ByteOrder::LeastSignificantFirst, 256, 4),
       Hex("55 AA 08 00 12 1A 00 41 00 00 00 01 00 00 42")},
  };
  for (const auto& [name, command, payload, expected] : cases) {
    std::array<std::uint8_t, MAX_REQUEST_FRAME> frame{};
    const std::size_t length = EncodeRequestFrame(0xAA55, command, payload, frame);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + length), expected) << name;
  }
  // A read length beyond its field is never sent.
  EXPECT_EQ(BuildReadBlockRequest(read, 0, ByteOrder::LeastSignificantFirst, 0xFFFF, 2), 6u);
  EXPECT_EQ(BuildReadBlockRequest(read, 0, ByteOrder::LeastSignificantFirst, 0x10000, 2), 0u);
}

// Replies built by drive-sim's codec or by hand, fed byte by byte: the
// LinkResult once a frame completed, nothing while none did. A drive's status
// byte stays the drive's, even when it is the number of a lost reply.
TEST(FrameExchange, ReceiverTakesWholeFramesOnly) {
  struct Case {
    const char* name;
    Bytes line;
    std::optional<LinkResult> result;
    Bytes payload;
  };
  const Bytes identity = Hex("01 02 03 FE");
  const Bytes longest(REPLY_PAYLOAD_CAPACITY, 0x5A);
  const Bytes reply = sim::BuildReplyFrame(16, 0, identity);
  Bytes corrupted = reply;
  sim::CorruptPayloadChecksum(corrupted);
  const std::optional<LinkResult> RECEIVING;
  const auto status = LinkResult::FromStatus;
  const Case cases[] = {
      {"reply with payload", reply, LINK_OK, identity},
      {"drive status 7", Hex("AA 55 00 00 11 07 18"), status(7), {}},
      {"drive status 16", Hex("AA 55 00 00 11 10 21"), status(16), {}},
      {"drive status with payload", sim::BuildReplyFrame(18, 3, identity), status(3), identity},
      {"bad payload checksum", corrupted, LINK_DATA_CHECKSUM, {}},
      {"bad header checksum, then the reply", Cat(sim::BuildBadHeaderFrame(16, 0, 4), reply),
       LINK_OK, identity},
      {"length 300 cannot be a reply", Cat(Hex("AA 55 2C 01 12 00 3F"), reply), LINK_OK, identity},
      {"length 299 is the longest reply", sim::BuildReplyFrame(18, 0, longest), LINK_OK, longest},
      {"AA AA 55 is not a preamble", Hex("AA AA 55 00 00 11 00 11"), RECEIVING, {}},
      {"header only", Bytes(reply.begin(), reply.begin() + 7), RECEIVING, {}},
      {"payload checksum missing", Bytes(reply.begin(), reply.end() - 1), RECEIVING, {}},
  };
  for (const Case& c : cases) {
    ReplyBuffer buffer;
    ReplyReceiver receiver(buffer);
    // A receiver that completed a frame takes the next one the same way.
    for (int round = 0; round < (c.result == RECEIVING ? 1 : 2); ++round) {
      std::optional<LinkResult> result;
      std::size_t fed = 0;
      while (fed < c.line.size() && !result) result = receiver.Feed(c.line[fed++]);
      EXPECT_TRUE(result == c.result) << c.name;
      EXPECT_EQ(fed, c.line.size()) << c.name << ": a frame ended before its last byte";
      if (result && *result != LINK_DATA_CHECKSUM) {
        EXPECT_EQ(Bytes(buffer.data.begin(), buffer.data.begin() + buffer.length), c.payload)
            << c.name;
      }
    }
  }
}

}  // namespace
}  // namespace kelvane
