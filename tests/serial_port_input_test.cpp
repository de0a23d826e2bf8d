// The serial port takes whatever the line already holds in one read and hands
// it out a byte at a time. These cases guard what that must not change: no
// byte is lost, repeated or reordered, bytes after a reply belong to the next
// exchange, silence is still silence after the limit, a hang-up still fails.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "link/drive_commands.h"
#include "link/frame_exchange.h"
#include "link/serial_port.h"
#include "test_support.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

using testing::Concat;

// The test plays the drive on the master of a pseudo-terminal of its own; the
// port opens the slave.
using DriveEnd = testing::PseudoTerminalPair;

Bytes ReplyFrame(std::uint8_t status, const Bytes& payload, std::uint8_t command = 0x12) {
  return testing::ReplyFrameBytes(command, status, payload);
}

// Counting bytes that never repeat within 251, so a lost, doubled or swapped
// byte shows at its position.
Bytes Pattern(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

TEST(SerialPortInput, BurstsComeOutWholeAndInOrder) {
  // Shorter than, exactly as long as, and several times longer than what one
  // read takes in at most; and a second burst behind a first one.
  for (std::size_t size : {1u, 7u, 264u, 511u, 512u, 513u, 1500u, 4000u}) {
    DriveEnd drive;
    SerialPort port;
    ASSERT_EQ(port.OpenPath(drive.slave(), 921600), 1);
    const Bytes first = Pattern(size);
    const Bytes second = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_TRUE(drive.Send(first));
    Bytes got;
    std::uint8_t byte = 0;
    while (got.size() < first.size() && port.ReadByte(byte) == ReadOutcome::Byte) {
      got.push_back(byte);
    }
    ASSERT_TRUE(drive.Send(second));
    while (got.size() < first.size() + second.size() && port.ReadByte(byte) == ReadOutcome::Byte) {
      got.push_back(byte);
    }
    EXPECT_EQ(got, Concat({first, second})) << size << "-byte burst";
  }
}

// Regression guard: a reply and whatever came after it arrive in one burst,
// so one read takes in both; the rest must be the start of the next exchange,
// not dropped with the reply.
TEST(SerialPortInput, BytesAfterAReplyStayForTheNextExchange) {
  const Bytes firstPayload = Pattern(256);
  const Bytes secondPayload = {0x5C, 0x01, 0x02};
  const struct {
    const char* what;
    Bytes between;
  } cases[] = {
      {"reply right behind reply", {}},
      {"noise between the replies", {0x00, 0xAA, 0x13, 0xFF}},
      {"a broken header between the replies", {0xAA, 0x55, 0x00, 0x00, 0x11, 0x00, 0x12}},
  };
  for (const auto& c : cases) {
    DriveEnd drive;
    SerialPort port;
    ASSERT_EQ(port.OpenPath(drive.slave(), 921600), 1);
    ASSERT_TRUE(drive.Send(
        Concat({ReplyFrame(0, firstPayload), c.between, ReplyFrame(0, secondPayload, 0x10)})));
    std::span<const std::uint8_t> reply;
    ASSERT_EQ(TransactEmpty(port, CMD_IDENTIFY, reply), LINK_OK) << c.what;
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), firstPayload) << c.what;
    ASSERT_EQ(TransactEmpty(port, CMD_IDENTIFY, reply), LINK_OK) << c.what;
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), secondPayload) << c.what;
    // Both requests went out whole, the second after the first reply.
    EXPECT_EQ(drive.Receive(12),
              Concat({{0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}, {0x55, 0xAA, 0x00, 0x00, 0x10, 0x10}}))
        << c.what;
  }
}

// The one timed case: once what was waiting is used up, a read waits for the
// line again, up to the silence limit, and no longer.
TEST(SerialPortInput, EmptiedLineStillReadsAsSilenceAfterTheLimit) {
  DriveEnd drive;
  SerialPort port;
  ASSERT_EQ(port.OpenPath(drive.slave(), 921600), 1);
  ASSERT_TRUE(drive.Send(ReplyFrame(0, {0x33})));
  std::span<const std::uint8_t> reply;
  ASSERT_EQ(TransactEmpty(port, CMD_IDENTIFY, reply), LINK_OK);
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte), ReadOutcome::Silence);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(READ_SILENCE_MS - 5));
  EXPECT_LT(waited, std::chrono::milliseconds(5 * READ_SILENCE_MS));
  // A byte that comes after the silence is read normally.
  ASSERT_TRUE(drive.Send({0x42}));
  ASSERT_EQ(port.ReadByte(byte), ReadOutcome::Byte);
  EXPECT_EQ(byte, 0x42);
}

// The bytes the line delivered before it went away are still handed out; the
// hang-up shows right after them, as a failure and without waiting.
TEST(SerialPortInput, HangUpAfterABurstFailsOnceTheBurstIsRead) {
  DriveEnd drive;
  SerialPort port;
  ASSERT_EQ(port.OpenPath(drive.slave(), 921600), 1);
  ASSERT_TRUE(drive.Send({0x01, 0x02, 0x03}));
  std::uint8_t byte = 0;
  ASSERT_EQ(port.ReadByte(byte), ReadOutcome::Byte);
  EXPECT_EQ(byte, 0x01);
  drive.Hangup();
  ASSERT_EQ(port.ReadByte(byte), ReadOutcome::Byte);
  EXPECT_EQ(byte, 0x02);
  ASSERT_EQ(port.ReadByte(byte), ReadOutcome::Byte);
  EXPECT_EQ(byte, 0x03);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.ReadByte(byte), ReadOutcome::Failure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(READ_SILENCE_MS));
}

}  // namespace
}  // namespace kelvane
