#include "flash/procedures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/checksum_sector.h"
#include "image/digest_stamped_image.h"
#include "link/drive_commands.h"
#include "scripted_line.h"

namespace kelvane {
namespace {

using testing::CapturedOutput;
using testing::RequestFrame;
using testing::ScriptedLine;
using testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

struct Drive {
  ScriptedLine line;
  SerialPort port;
  Drive() { EXPECT_EQ(port.OpenPath(line.path().c_str(), 38400), 1); }
};

RunOptions Options(std::optional<std::string> fileName, bool verifyOnly = false) {
  RunOptions options;
  options.fileName = std::move(fileName);
  options.verifyOnly = verifyOnly;
  return options;
}

Bytes Head(const Bytes& bytes, std::size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

// ---- 27 series: the checksum sector ---------------------------------------

// 18 data bytes in two records: the word image is 22 bytes, checksum 0007BCA8.
const std::string kWordFile = "S1070000010203FFF3\nS1050010AABB85\nS9030000FC\n";
const std::string kWordFileLines = "\r\nFirmware size: 22 checksum 0007bca8\r\n";

Bytes WordImageSector() {
  Bytes sector(256, 0xFF);
  const Bytes head{0x01, 0x02, 0x03, 0xFF};
  std::copy(head.begin(), head.end(), sector.begin());
  const Bytes tail{0xAA, 0xBB, 0xA8, 0xBC, 0x07, 0x00};
  std::copy(tail.begin(), tail.end(), sector.begin() + 16);
  return sector;
}

Bytes ChecksumSectorBytes() {
  Bytes sector(256, 0xFF);
  const Bytes head{0x78, 0x56, 0x34, 0x12, 0x09, 0x00, 0x00, 0x00, 0xA8, 0xBC, 0x07, 0x00};
  std::copy(head.begin(), head.end(), sector.begin());
  return sector;
}

TEST(ChecksumSector, MarkerWordCountAndChecksumAsTheImageHoldsThem) {
  struct Case {
    int length;
    Bytes wordCount;
  };
  for (const Case& c : std::vector<Case>{{1000, {0xF2, 0x01, 0x00, 0x00}},
                                         {1004, {0xF4, 0x01, 0x00, 0x00}},
                                         {4, {0x00, 0x00, 0x00, 0x00}}}) {
    SCOPED_TRACE(c.length);
    Bytes image(static_cast<std::size_t>(c.length) + 8, 0x5A);
    const Bytes checksum{0x11, 0x22, 0x33, 0x44};
    std::copy(checksum.begin(), checksum.end(), image.begin() + c.length - 4);
    const ChecksumSector sector = BuildChecksumSector(image, c.length);
    Bytes expected(256, 0xFF);
    const Bytes marker{0x78, 0x56, 0x34, 0x12};
    std::copy(marker.begin(), marker.end(), expected.begin());
    std::copy(c.wordCount.begin(), c.wordCount.end(), expected.begin() + 4);
    std::copy(checksum.begin(), checksum.end(), expected.begin() + 8);
    EXPECT_EQ(Bytes(sector.begin(), sector.end()), expected);
    EXPECT_EQ(FirmwareChecksum(image, c.length), 0x44332211u);
  }
}

struct Series27Case {
  const char* name;
  bool verifyOnly;
  std::vector<std::pair<std::uint8_t, Bytes>> replies;  // status, payload
  int status;
  std::string expected;  // after the reader's lines
  std::size_t requestCount;
};

TEST(Series27Procedure, WritesAndChecksTheChecksumSector) {
  Bytes checksumOff = ChecksumSectorBytes();
  checksumOff[4] = 0x0A;
  checksumOff[200] = 0x00;
  const std::string written =
      "Updating firmware:\r\n   1 of    1 sectors updated\r"
      "\r\nFirmware was successufully updated\r\nWriting firmware checksum ...\r\n";
  const std::string checksumLine = "Firmware checksum is 0007bca8, size in WORDs 9\r\n";
  const std::string verified =
      "Verifying firmware:\r\n   1 of    1 sectors verifyed\r"
      "\r\nFirmware was successufully verifyed\r\n";
  const std::vector<Series27Case> cases = {
      {"program",
       false,
       {{0, {}}, {0, {}}, {0, ChecksumSectorBytes()}, {0, WordImageSector()}},
       0,
       written + checksumLine + "Firmware checksum sector is verified\r\n" + verified,
       4},
      {"verify only still reads the checksum sector back",
       true,
       {{0, checksumOff}, {0, WordImageSector()}},
       0,
       checksumLine + "Firmware checksum sector 479 has 2 errorneous location(s)\r\n" + verified,
       2},
      {"short checksum read-back",
       true,
       {{0, Head(ChecksumSectorBytes(), 16)}, {0, WordImageSector()}},
       0,
       checksumLine + "Firmware checksum sector 479 has 240 errorneous location(s)\r\n" + verified,
       2},
      {"checksum sector write refused",
       false,
       {{0, {}}, {9, {}}},
       1,
       written + checksumLine + "Firmware checksum update failed on sector 479\r\n",
       2},
      {"checksum sector read refused",
       true,
       {{4, {}}},
       1,
       checksumLine + "Failed to read sector with firmware checksum and length\r\n",
       1},
  };
  for (const Series27Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Drive drive;
    for (const auto& [status, payload] : c.replies) drive.line.QueueReply(status, payload);
    CapturedOutput out;
    const auto options = Options(dir.Write("fw.s", kWordFile), c.verifyOnly);
    EXPECT_EQ(Run27SeriesProcedure(drive.port, options, out.stream()), c.status);
    EXPECT_EQ(out.text(), kWordFileLines + c.expected);
    const std::vector<RequestFrame> requests = drive.line.TakeRequests();
    ASSERT_EQ(requests.size(), c.requestCount);
    // The checksum sector goes to 0x1DF00 and is read back from there with
    // the length every sector carries.
    const Bytes checksumAddress{0x00, 0xDF, 0x01, 0x00};
    for (const RequestFrame& r : requests) {
      if (Head(r.payload, 4) != checksumAddress) continue;
      if (r.command == CMD_WRITE_BLOCK) {
        EXPECT_EQ(Bytes(r.payload.begin() + 4, r.payload.end()), ChecksumSectorBytes());
      } else {
        EXPECT_EQ(r.payload, (Bytes{0x00, 0xDF, 0x01, 0x00, 0x00, 0x01}));
      }
    }
  }
}

// An S2 record of `count` 0x00 bytes ending at `end`, checksum included.
std::string S2Record(std::uint32_t end, int count) {
  const std::uint32_t address = end - static_cast<std::uint32_t>(count);
  char text[64];
  int sum = (count + 4) + static_cast<int>((address >> 16) & 0xFF) +
            static_cast<int>((address >> 8) & 0xFF) + static_cast<int>(address & 0xFF);
  std::snprintf(text, sizeof text, "S2%02X%06X", count + 4, address);
  std::string line = text;
  for (int i = 0; i < count; ++i) line += "00";
  std::snprintf(text, sizeof text, "%02X\n", (~sum) & 0xFF);
  return line + text;
}

TEST(Series27Procedure, RefusesAnImageThatWouldReachTheChecksumSector) {
  // Regression: an image of 0x1DF00 bytes (data ending at 0x1DEFC) is sent as
  // 480 sectors, the last of them over the checksum sector.
  for (std::uint32_t dataEnd : {0x1DEFCu, 0x1DF00u, 0x1E000u}) {
    SCOPED_TRACE(dataEnd);
    TempDir dir;
    Drive drive;
    CapturedOutput out;
    const auto options = Options(dir.Write("big.s", S2Record(dataEnd, 4)));
    EXPECT_EQ(Run27SeriesProcedure(drive.port, options, out.stream()), 1);
    EXPECT_EQ(out.text().rfind("Error (file:1) : ", 0), 0u) << out.text();
    EXPECT_TRUE(drive.line.TakeBytes().empty());
  }
}

// ---- TK720 digest: verification by the drive's own digest ------------------

struct DigestCase {
  const char* name;
  std::size_t replyLength;
  int lastByteDelta;  // added to the drive's last digest byte
  std::uint8_t status;
  int result;
  bool matched;
};

TEST(TK720DigestProcedure, ComparesTheDigestTheDriveReports) {
  const std::vector<DigestCase> cases = {
      {"digests agree", 152, 0, 0, 0, true},      {"longer reply", 200, 0, 0, 0, true},
      {"last byte differs", 152, 1, 0, 0, false}, {"no valid firmware", 151, 0, 0, 0, false},
      {"identify fails", 152, 0, 9, 1, false},
  };
  Bytes file(1000);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 13);
  for (const DigestCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.Write("fw.bin", std::string(file.begin(), file.end()));
    // The image lines and the digest, as the image step prints and stamps them.
    DigestStampedImage image;
    CapturedOutput imageLines;
    ASSERT_EQ(PrepareDigestStampedImage(path.c_str(), 0, image, imageLines.stream()), 0);
    Drive drive;
    for (int k = 0; k < 4; ++k) drive.line.QueueReply(0);
    Bytes reply(c.replyLength, 0x00);
    std::copy(image.digest().begin(), image.digest().end(), reply.begin() + 112);
    reply[127] = static_cast<std::uint8_t>(reply[127] + c.lastByteDelta);
    drive.line.QueueReply(c.status, reply);

    CapturedOutput out;
    EXPECT_EQ(RunTK720DigestProcedure(drive.port, Options(path), out.stream()), c.result);
    std::string expected = imageLines.text() +
                           "Updating firmware:\r\n"
                           "   1 of    4 blocks updated\r   2 of    4 blocks updated\r"
                           "   3 of    4 blocks updated\r   4 of    4 blocks updated\r"
                           "\r\nFirmware was successufully updated\r\nVerifying firmware:\r\n";
    if (c.status != 0) {
      expected += "Communication failure 9 during verification\n";
    } else if (c.replyLength < 152) {
      expected += "Unit doesn't have any valid firmware\n";
    } else {
      expected += "Unit MD5 : ";
      for (std::size_t i = 112; i < 128; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", reply[i]);
        expected += hex;
      }
      expected += "\n";
    }
    if (c.result == 0) {
      expected += c.matched
                      ? "\nFirmware was successufully verifyed\r\n"
                      : "\nFirmware in the TK720 drive does not much the file " + path + "\r\n";
    }
    EXPECT_EQ(out.text(), expected);
    const std::vector<RequestFrame> requests = drive.line.TakeRequests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(Head(requests[3].payload, 4), (Bytes{0x00, 0x83, 0x00, 0x00}));
    EXPECT_EQ(requests[4].command, CMD_IDENTIFY);
    EXPECT_TRUE(requests[4].payload.empty());
  }
}

// ---- every family: no file to read -------------------------------------------

TEST(Procedures, NothingIsSentWithoutAReadableFile) {
  using Procedure = int (*)(SerialPort&, const RunOptions&, std::FILE*);
  struct Case {
    const char* name;
    Procedure run;
  };
  const std::vector<Case> cases = {
      {"Nym", RunNymProcedure},
      {"TL3xx", RunTL3xxProcedure},
      {"27 series", Run27SeriesProcedure},
      {"TK720", RunTK720Procedure},
      {"TK720 digest", RunTK720DigestProcedure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const auto& name : {std::optional<std::string>(), std::optional(dir.File("none"))}) {
      Drive drive;
      CapturedOutput out;
      EXPECT_EQ(c.run(drive.port, Options(name), out.stream()), 1);
      EXPECT_EQ(out.text(), "Can't open file " + name.value_or("(null)") + "\r\n");
      EXPECT_TRUE(drive.line.TakeBytes().empty());
    }
  }
}

TEST(NymProcedure, SendsTheRecordStreamUnchanged) {
  TempDir dir;
  const auto path = dir.Write("fw.s", "S20801000001020304EC\nS804000000FB\n");
  Bytes sector(256, 0xFF);
  const Bytes stream{0x32, 0x08, 0x01, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04,
                     0xEC, 0x38, 0x04, 0x00, 0x00, 0x00, 0xFB, 0xFF, 0xFF};
  std::copy(stream.begin(), stream.end(), sector.begin());
  Drive drive;
  drive.line.QueueReply(0);
  Bytes differs = sector;
  differs[17] = 0x00;
  drive.line.QueueReply(0, differs);
  CapturedOutput out;
  EXPECT_EQ(RunNymProcedure(drive.port, Options(path), out.stream()), 0);
  EXPECT_EQ(out.text(),
            "Updating firmware:\r\n   1 of    1 sectors updated\r"
            "\r\nFirmware was successufully updated\r\nVerifying firmware:\r\n"
            " Sector    1 has    1 errorneous location(s)\r\n"
            "\r\nFirmware in the Nym7700 drive does not much the file " +
                path + "\r\n");
  const std::vector<RequestFrame> requests = drive.line.TakeRequests();
  ASSERT_EQ(requests.size(), 2u);
  Bytes write(4 + sector.size(), 0x00);  // address 0, then the sector
  std::copy(sector.begin(), sector.end(), write.begin() + 4);
  EXPECT_EQ(requests[0].payload, write);
  EXPECT_EQ(requests[1].payload, (Bytes{0x00, 0x00, 0x20, 0x00, 0x01, 0x00}));
}

}  // namespace
}  // namespace kelvane
