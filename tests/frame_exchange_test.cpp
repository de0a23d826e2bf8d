#include "link/frame_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "link/drive_commands.h"
#include "test_support.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

using testing::Concat;

// A reply frame as the drive lays it out, with correct checksums.
Bytes ReplyFrame(std::uint8_t status, const Bytes& payload, std::uint8_t command = 0x11) {
  return testing::ReplyFrameBytes(command, status, payload);
}

Bytes Counting(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return bytes;
}

// ---- Request frames -------------------------------------------------------

TEST(FrameExchange, EncodeRequestFrameLaysOutHeaderPayloadAndChecksums) {
  const Bytes write260 = Counting(260);
  std::uint8_t write260Sum = 0;
  for (std::uint8_t b : write260) write260Sum = static_cast<std::uint8_t>(write260Sum + b);
  const struct {
    const char* what;
    int command;
    Bytes payload;
    Bytes frame;  // empty: refused
  } cases[] = {
      {"identify", CMD_IDENTIFY, {}, {0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}},
      {"6-byte block read",
       CMD_READ_BLOCK,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
       {0x55, 0xAA, 0x06, 0x00, 0x12, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}},
      {"payload sum wraps",
       CMD_WRITE_BLOCK,
       {0xFF, 0xFF},
       {0x55, 0xAA, 0x02, 0x00, 0x11, 0x13, 0xFF, 0xFF, 0xFE}},
      {"only the command's low byte is sent", 0x310, {}, {0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}},
      {"260-byte write", CMD_WRITE_BLOCK, write260,
       Concat({{0x55, 0xAA, 0x04, 0x01, 0x11, 0x16}, write260, {write260Sum}})},
      {"longer than any request", CMD_WRITE_BLOCK, Bytes(MAX_REQUEST_PAYLOAD + 1, 0), {}},
  };
  for (const auto& c : cases) {
    std::array<std::uint8_t, MAX_REQUEST_FRAME> frame{};
    const std::size_t n = EncodeRequestFrame(0xAA55, c.command, c.payload, frame);
    ASSERT_EQ(n, c.frame.size()) << c.what;
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + n), c.frame) << c.what;
  }
}

// ---- The reply receiver, byte by byte ---------------------------------------

struct Fed {
  int result = ReplyReceiver::RECEIVING;
  std::size_t taken = 0;  // bytes fed up to and including the completing one
};

Fed FeedAll(ReplyReceiver& receiver, const Bytes& bytes) {
  Fed fed;
  for (std::uint8_t b : bytes) {
    ++fed.taken;
    fed.result = receiver.Feed(b);
    if (fed.result != ReplyReceiver::RECEIVING) break;
  }
  return fed;
}

// The reply buffer with a guard behind it, to catch stores past `data`.
struct GuardedReply {
  ReplyBuffer reply;
  std::array<std::uint8_t, 512> guard;
  GuardedReply() { guard.fill(0x5A); }
  bool GuardIntact() const {
    return std::all_of(guard.begin(), guard.end(), [](std::uint8_t b) { return b == 0x5A; });
  }
};

TEST(ReplyReceiver, ReplyFramesFromTheLine) {
  const Bytes good = {0xAA, 0x55, 0x00, 0x00, 0x11, 0x00, 0x11};
  const Bytes block240 = Counting(240);
  const Bytes big = Counting(299);
  const Bytes tooBig300 = Concat({{0xAA, 0x55, 0x2C, 0x01, 0x11, 0x00, 0x3E}, Bytes(320, 0x00)});
  const Bytes tooBigFFFF = Concat({{0xAA, 0x55, 0xFF, 0xFF, 0x11, 0x00, 0x0F}, Bytes(320, 0x00)});
  const struct {
    const char* what;
    Bytes line;
    int result;
    std::size_t taken;
    std::uint16_t length;  // checked when a frame completes
  } cases[] = {
      {"good zero-length reply", good, LINK_OK, 7, 0},
      {"drive status 5", {0xAA, 0x55, 0x00, 0x00, 0x11, 0x05, 0x16}, 5, 7, 0},
      {"noise before the preamble", Concat({{0x00, 0x13, 0x55, 0xFF}, good}), LINK_OK, 11, 0},
      {"tail of an earlier reply", Concat({{0x55, 0x00, 0x11, 0x55}, good}), LINK_OK, 11, 0},
      {"lone AA before AA 55 is not a preamble", Concat({{0xAA}, good}), ReplyReceiver::RECEIVING,
       8, 0},
      {"AA AA 55 then a good frame", Concat({{0xAA}, good, good}), LINK_OK, 15, 0},
      {"AA AA AA 55 starts at the third AA", Concat({{0xAA, 0xAA}, good}), LINK_OK, 9, 0},
      {"header sum of 256 or more (length 240, command 0x12)",
       Concat({{0xAA, 0x55, 0xF0, 0x00, 0x12, 0x00, 0x02},
               block240,
               {ReplyFrame(0, block240, 0x12).back()}}),
       LINK_OK, 248, 240},
      {"bad header checksum, then a good frame",
       Concat({{0xAA, 0x55, 0x02, 0x00, 0x11, 0x00, 0x14, 0x01, 0x02, 0x03}, good}), LINK_OK, 17,
       0},
      {"zero-length reply with a wrong header checksum",
       {0xAA, 0x55, 0x00, 0x00, 0x11, 0x00, 0x12},
       ReplyReceiver::RECEIVING,
       7,
       0},
      {"failed status with a wrong header checksum is not a status",
       Concat({{0xAA, 0x55, 0x00, 0x00, 0x11, 0x05, 0x11}, good}), LINK_OK, 14, 0},
      {"bad payload checksum",
       {0xAA, 0x55, 0x02, 0x00, 0x11, 0x00, 0x13, 0x01, 0x02, 0x04},
       LINK_DATA_CHECKSUM,
       10,
       2},
      {"good payload, drive status 7", ReplyFrame(7, {0x10, 0x20}), 7, 10, 2},
      {"largest reply that fits", ReplyFrame(0, big), LINK_OK, 7 + 299 + 1, 299},
      {"length 300 does not fit", Concat({tooBig300, good}), LINK_OK, tooBig300.size() + 7, 0},
      {"length 65535 does not fit", Concat({tooBigFFFF, good}), LINK_OK, tooBigFFFF.size() + 7, 0},
      {"payload bytes that look like a preamble", ReplyFrame(0, {0xAA, 0x55, 0x00, 0x00}), LINK_OK,
       12, 4},
  };
  for (const auto& c : cases) {
    GuardedReply guarded;
    ReplyReceiver receiver(guarded.reply);
    const Fed fed = FeedAll(receiver, c.line);
    EXPECT_EQ(fed.result, c.result) << c.what;
    EXPECT_EQ(fed.taken, c.taken) << c.what;
    EXPECT_TRUE(guarded.GuardIntact()) << c.what;
    if (fed.result != ReplyReceiver::RECEIVING) {
      EXPECT_EQ(guarded.reply.length, c.length) << c.what;
    }
  }
}

TEST(ReplyReceiver, PayloadAndItsChecksumLandInData) {
  const Bytes payload = Counting(299);
  const Bytes frame = ReplyFrame(0, payload, 0x12);
  ReplyBuffer reply;
  ReplyReceiver receiver(reply);
  ASSERT_EQ(FeedAll(receiver, frame).result, LINK_OK);
  EXPECT_EQ(reply.length, 299);
  EXPECT_EQ(reply.command, 0x12);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(Bytes(reply.data.begin(), reply.data.begin() + 299), payload);
  EXPECT_EQ(reply.data[299], frame.back());
}

// ---- Exchanges over a pseudo-terminal ----------------------------------------

// The loader's port on the slave side; the test answers as the drive on the
// master side.
class DriveLine : public testing::PseudoTerminalPair {
 public:
  DriveLine() {
    if (!slavePath().empty() && port.OpenPath(slave(), 38400) != 1) {
      ADD_FAILURE() << "cannot open " << slave();
    }
  }
  // The drive's end goes before the loader's port.
  ~DriveLine() { Hangup(); }

  SerialPort port;
};

TEST(FrameExchange, RequestsGoOnTheWireExactly) {
  const struct {
    const char* what;
    int command;
    Bytes payload;
    Bytes wire;
  } cases[] = {
      {"identify", CMD_IDENTIFY, {}, {0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}},
      {"block read",
       CMD_READ_BLOCK,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
       {0x55, 0xAA, 0x06, 0x00, 0x12, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}},
  };
  for (const auto& c : cases) {
    DriveLine line;
    ASSERT_TRUE(line.Send(ReplyFrame(0, {})));
    std::span<const std::uint8_t> reply;
    EXPECT_EQ(Transact(line.port, c.command, c.payload, reply), LINK_OK) << c.what;
    EXPECT_EQ(line.Receive(c.wire.size()), c.wire) << c.what;
  }
}

// The payload is handed out from the port's buffer on success only; on any
// other result the caller's view of its last good reply stays as it was.
TEST(FrameExchange, ReplyPayloadIsHandedOutOnSuccessOnly) {
  const Bytes identity = Counting(152);
  const struct {
    const char* what;
    Bytes line;
    int result;
  } cases[] = {
      {"identity after noise", Concat({{0x00, 0x42}, ReplyFrame(0, identity, 0x10)}), LINK_OK},
      {"bad payload checksum",
       {0xAA, 0x55, 0x02, 0x00, 0x11, 0x00, 0x13, 0x01, 0x02, 0x04},
       LINK_DATA_CHECKSUM},
      {"drive status, no payload", {0xAA, 0x55, 0x00, 0x00, 0x11, 0x05, 0x16}, 5},
      {"drive status with payload", ReplyFrame(0x21, {0x01, 0x02}), 0x21},
  };
  for (const auto& c : cases) {
    DriveLine line;
    ASSERT_TRUE(line.Send(c.line));
    const std::uint8_t before[3] = {9, 9, 9};
    std::span<const std::uint8_t> reply(before);
    ASSERT_EQ(TransactEmpty(line.port, CMD_IDENTIFY, reply), c.result) << c.what;
    if (c.result == LINK_OK) {
      EXPECT_EQ(reply.data(), line.port.reply.data.data()) << c.what;
      EXPECT_EQ(Bytes(reply.begin(), reply.end()), identity) << c.what;
    } else {
      EXPECT_EQ(reply.data(), before) << c.what;
      EXPECT_EQ(reply.size(), 3u) << c.what;
    }
  }
}

TEST(FrameExchange, ClosedPortSendsNothing) {
  SerialPort port;
  std::span<const std::uint8_t> reply;
  EXPECT_EQ(TransactEmpty(port, CMD_IDENTIFY, reply), LINK_PORT_ERROR);
  EXPECT_EQ(Transact(port, CMD_READ_BLOCK, Bytes(6, 0), reply), LINK_PORT_ERROR);
  EXPECT_EQ(ReceiveReply(port, port.reply), LINK_PORT_ERROR);
  EXPECT_TRUE(reply.empty());
}

TEST(FrameExchange, OversizedRequestIsNotSent) {
  DriveLine line;
  ASSERT_TRUE(line.Send(ReplyFrame(0, {})));
  std::span<const std::uint8_t> reply;
  EXPECT_EQ(Transact(line.port, CMD_WRITE_BLOCK, Bytes(MAX_REQUEST_PAYLOAD + 1, 0), reply),
            LINK_PORT_ERROR);
  // The queued reply is still there for the next (sane) exchange, and the
  // only request on the wire is that one.
  EXPECT_EQ(TransactEmpty(line.port, CMD_IDENTIFY, reply), LINK_OK);
  EXPECT_EQ(line.Receive(6), (Bytes{0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}));
}

// The one timed case: a silent drive, or one whose only answer has a broken
// header, costs one silence limit; and a reply that arrives after the
// exchange gave up is not thrown away but read by the next exchange.
TEST(FrameExchange, SilenceEndsTheExchangeAndALateReplyIsReadNext) {
  const struct {
    const char* what;
    Bytes before;
  } cases[] = {
      {"silent drive", {}},
      {"broken header, then silence", {0xAA, 0x55, 0x00, 0x00, 0x11, 0x00, 0x12}},
  };
  for (const auto& c : cases) {
    DriveLine line;
    ASSERT_TRUE(line.Send(c.before));
    std::span<const std::uint8_t> reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TransactEmpty(line.port, CMD_IDENTIFY, reply), LINK_NO_REPLY) << c.what;
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(READ_SILENCE_MS - 5)) << c.what;
    EXPECT_LT(waited, std::chrono::milliseconds(5 * READ_SILENCE_MS)) << c.what;

    const Bytes late = {0x5C, 0x01};
    ASSERT_TRUE(line.Send(ReplyFrame(0, late, 0x10)));
    ASSERT_EQ(TransactEmpty(line.port, CMD_IDENTIFY, reply), LINK_OK) << c.what;
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), late) << c.what;
    EXPECT_EQ(line.Receive(12),
              Concat({{0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}, {0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}}))
        << c.what;
  }
}

// A line that talks without pause but never forms a frame (wrong rate,
// another device on the line) ends the exchange after a fixed number of bytes.
TEST(FrameExchange, BabblingLineEndsWithinTheByteBudget) {
  const Bytes good = ReplyFrame(0, {0x33});
  Bytes brokenHeaders;  // preambles whose headers never check out
  while (brokenHeaders.size() < EXCHANGE_BYTE_BUDGET) {
    for (std::uint8_t b : {0xAA, 0x55, 0x01, 0x00, 0x11, 0x00, 0x00}) brokenHeaders.push_back(b);
  }
  brokenHeaders.resize(EXCHANGE_BYTE_BUDGET);
  const std::size_t budget = EXCHANGE_BYTE_BUDGET;
  const struct {
    const char* what;
    Bytes noise;
    int first;
    bool nextFindsTheFrame;
  } cases[] = {
      {"frame ends on the last byte of the budget", Bytes(budget - good.size(), 0x00), LINK_OK,
       false},
      {"frame ends one byte past the budget", Bytes(budget - good.size() + 1, 0x00), LINK_NO_REPLY,
       false},
      {"a whole budget of broken headers", brokenHeaders, LINK_NO_REPLY, true},
  };
  for (const auto& c : cases) {
    DriveLine line;
    std::thread drive([&] { EXPECT_TRUE(line.Send(Concat({c.noise, good}))); });
    EXPECT_EQ(ReceiveReply(line.port, line.port.reply), c.first) << c.what;
    if (c.nextFindsTheFrame) {
      // Exactly the budget was taken: the frame right after it is whole.
      EXPECT_EQ(ReceiveReply(line.port, line.port.reply), LINK_OK) << c.what;
      EXPECT_EQ(line.port.reply.length, 1) << c.what;
      EXPECT_EQ(line.port.reply.data[0], 0x33) << c.what;
    }
    drive.join();
  }
}

// A far end that goes away is noticed at once, not after the silence limit.
TEST(FrameExchange, HangUpEndsTheExchangeAtOnce) {
  DriveLine line;
  ASSERT_TRUE(line.Send({0xAA, 0x55, 0x04}));
  line.Hangup();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveReply(line.port, line.port.reply), LINK_NO_REPLY);
  std::span<const std::uint8_t> reply;
  EXPECT_EQ(TransactEmpty(line.port, CMD_IDENTIFY, reply), LINK_PORT_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(READ_SILENCE_MS));
}

}  // namespace
}  // namespace kelvane
