// The serial port takes whatever the line already holds in one read and hands
// it out a byte at a time. These cases guard what that must not change: no
// byte is lost, repeated or reordered, bytes after a reply belong to the next
// exchange, silence is still silence after the limit, a hang-up still fails.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/drive_commands.h"
#include "link/frame_exchange.h"
#include "link/serial_port.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal of the test's own: the port opens the slave, the test
// plays the drive on the master.
class DriveEnd {
 public:
  DriveEnd() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      ADD_FAILURE() << "no pseudo-terminal: errno " << errno;
      return;
    }
    slave_ = name;
  }
  ~DriveEnd() { Hangup(); }
  DriveEnd(const DriveEnd&) = delete;
  DriveEnd& operator=(const DriveEnd&) = delete;

  const char* slave() const { return slave_.c_str(); }
  // The whole burst in one write, so it waits on the line all at once.
  bool Send(const Bytes& bytes) const {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Takes in what the loader sent, so the line's output never fills up.
  Bytes Receive(std::size_t count) const {
    Bytes got;
    while (got.size() < count) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 5000) != 1) break;
      std::uint8_t chunk[512];
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
  void Hangup() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

Bytes ReplyFrame(std::uint8_t status, const Bytes& payload, std::uint8_t command = 0x12) {
  const auto length = static_cast<std::uint16_t>(payload.size());
  Bytes frame = {0xAA,
                 0x55,
                 static_cast<std::uint8_t>(length & 0xFF),
                 static_cast<std::uint8_t>(length >> 8),
                 command,
                 status};
  frame.push_back(static_cast<std::uint8_t>(frame[2] + frame[3] + frame[4] + frame[5]));
  if (payload.empty()) return frame;
  std::uint8_t sum = 0;
  for (std::uint8_t b : payload) sum = static_cast<std::uint8_t>(sum + b);
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(sum);
  return frame;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
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
