// Every fault that drive-sim can inject, at every phase of every drive family:
// link establishment, the write pass, the 27 series checksum sector (write and
// read-back), the read-back pass and the TK720 digest identify. Each cell runs
// the real loader against the real drive-sim and checks
//   - the exit status and the whole console output, byte for byte (the cells
//     where a late reply shifts every later reply by one exchange are checked
//     by their beginning and their verdict line);
//   - the drive's flash afterwards: it starts out holding a pattern, so a
//     block written anywhere but where the run reports shows up, and it must
//     hold exactly the blocks written before the failure;
//   - the properties that hold in every cell: the run ends, and the success
//     verdict never stands while the flash differs from the image.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

using e2e::PrintTo;

enum class Phase { Link, Write, ChecksumWrite, ChecksumRead, ReadBack, DigestIdentify };
enum class Fault {
  SilentFirst,
  Late,
  Noise,
  NoiseBeyondExchangeBudget,
  BadHeader,
  BadPayloadChecksum,
  Status1,
  Status16,
  Status18,
  Status7,
  ShortRead,
  Stuck,
  Hangup,
};
enum class Kind { Plain, Series27, Digest };

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::Link:
      return "Link";
    case Phase::Write:
      return "WritePass";
    case Phase::ChecksumWrite:
      return "ChecksumSectorWrite";
    case Phase::ChecksumRead:
      return "ChecksumSectorRead";
    case Phase::ReadBack:
      return "ReadBack";
    case Phase::DigestIdentify:
      return "DigestIdentify";
  }
  return "";
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::SilentFirst:
      return "Silence";
    case Fault::Late:
      return "LateReply";
    case Fault::Noise:
      return "Noise";
    case Fault::NoiseBeyondExchangeBudget:
      return "NoiseBeyondExchangeBudget";
    case Fault::BadHeader:
      return "BadHeaderChecksum";
    case Fault::BadPayloadChecksum:
      return "BadPayloadChecksum";
    case Fault::Status1:
      return "Status1";
    case Fault::Status16:
      return "Status16";
    case Fault::Status18:
      return "Status18";
    case Fault::Status7:
      return "Status7";
    case Fault::ShortRead:
      return "ShortReply";
    case Fault::Stuck:
      return "StuckFlashByte";
    case Fault::Hangup:
      return "HangUp";
  }
  return "";
}

constexpr Fault ALL_FAULTS[] = {Fault::SilentFirst, Fault::Late,
                                Fault::Noise,       Fault::NoiseBeyondExchangeBudget,
                                Fault::BadHeader,   Fault::BadPayloadChecksum,
                                Fault::Status1,     Fault::Status16,
                                Fault::Status18,    Fault::Status7,
                                Fault::ShortRead,   Fault::Stuck,
                                Fault::Hangup};

// The block that the write and read-back faults hit: the second, so that the
// first shows that what went before is kept.
constexpr int HIT = 1;
constexpr std::uint32_t CHECKSUM_SECTOR = 0x1DF00;
// The loader gives up on an exchange after this many bytes without a frame.
constexpr int EXCHANGE_BYTE_BUDGET = 4096;
constexpr int SHORT_REPLY = 100;

// One drive family with a small firmware file of a few blocks.
struct Family {
  const char* name;
  const char* sim;
  std::vector<std::string> loaderOptions;
  Kind kind;
  std::vector<std::string> driveArguments;
  std::string identityLines;
  std::size_t flashSize;
  std::size_t blockSize;
  std::size_t flashBase;  // where block 0 sits in the drive's flash, as read
  BlockPass pass;
  std::string fileName;
  Bytes file;
  Bytes image;      // the blocks sent, padded with 0xFF
  std::string pre;  // what the image step prints
  const char* writeFailure;
  bool writeFailureShowsCode;
  const char* readFailure;
  std::string mismatch;
  // 27 series: the checksum line and sector.
  std::string checksumLine;
  Bytes checksumSector;
  // TK720 digest: the image's digest.
  Bytes digest;
  int blocks() const { return pass.count; }
};

const char* const NYM_MISMATCH = "\r\nFirmware in the Nym7700 drive does not much the file %s\r\n";
const char* const TL3XX_MISMATCH = "\r\nFirmware in the TL3xx drive does not much the file %s\r\n";
const char* const TK720_MISMATCH = "\r\nFirmware in the TK720 drive does not much the file %s\r\n";
const char* const DIGEST_MISMATCH = "\nFirmware in the TK720 drive does not much the file %s\r\n";
const char* const DIGEST_VERIFIED = "\nFirmware was successufully verifyed\r\n";
const char* const SUCCESS_WORDS = "Firmware was successufully verifyed";

Bytes Padded(Bytes bytes, std::size_t blockSize, int blocks) {
  bytes.resize(blockSize * static_cast<std::size_t>(blocks), 0xFF);
  return bytes;
}

std::string SRecordFile(char type, int addressBytes, std::uint32_t start, int records,
                        std::size_t perRecord, std::uint32_t seed) {
  const Bytes data = Pattern(perRecord * static_cast<std::size_t>(records), seed);
  std::string text = SRecordLine('0', 2, 0, {'f', 'w'});
  for (int r = 0; r < records; ++r) {
    auto from = data.begin() + static_cast<std::ptrdiff_t>(perRecord * r);
    text += SRecordLine(type, addressBytes, start + static_cast<std::uint32_t>(perRecord * r),
                        Bytes(from, from + static_cast<std::ptrdiff_t>(perRecord)));
  }
  return text;
}

Family WordImageFamily(bool series27) {
  Family f;
  const std::string text = SRecordFile('1', 2, 0, series27 ? 20 : 10, 30, series27 ? 27 : 3);
  const WordImage word = WordImageOf(text);
  f.fileName = "fw.s";
  f.file = Bytes(text.begin(), text.end());
  f.pre = Format("\r\nFirmware size: %zu checksum %08x\r\n", word.bytes.size(), word.checksum);
  f.writeFailure = "FLASH update failed on sector %d\r\n";
  f.writeFailureShowsCode = false;
  f.readFailure = "FLASH verification failed on sector %d because of communication error %d\r\n";
  f.mismatch = Format(TL3XX_MISMATCH, "fw.s");
  f.flashBase = 0;
  if (!series27) {
    f.name = "TL3xx";
    f.sim = "tl3xx";
    f.loaderOptions = {"/a"};
    f.kind = Kind::Plain;
    f.driveArguments = {"--identity-hex", NYM_BASIC_IDENTITY_HEX};
    f.identityLines = NYM_BASIC_IDENTITY_LINES;
    f.flashSize = TL3XX_FLASH_SIZE;
    f.blockSize = 128;
  } else {
    f.name = "Series27";
    f.sim = "27";
    f.loaderOptions = {"/9"};
    f.kind = Kind::Series27;
    f.driveArguments = {"--identity-hex", SERIES27_IDENTITY_HEX};
    f.identityLines = SERIES27_IDENTITY_LINES;
    f.flashSize = SERIES27_FLASH_SIZE;
    f.blockSize = 256;
    const auto words = static_cast<std::uint32_t>((word.bytes.size() - 4) / 2);
    f.checksumLine =
        Format("Firmware checksum is %08x, size in WORDs %u\r\n", word.checksum, words);
    f.checksumSector = Bytes(256, 0xFF);
    const Bytes head = {0x78,
                        0x56,
                        0x34,
                        0x12,
                        std::uint8_t(words),
                        std::uint8_t(words >> 8),
                        std::uint8_t(words >> 16),
                        std::uint8_t(words >> 24)};
    std::copy(head.begin(), head.end(), f.checksumSector.begin());
    std::copy(word.bytes.end() - 4, word.bytes.end(), f.checksumSector.begin() + 8);
  }
  const int blocks = static_cast<int>(word.bytes.size() / f.blockSize) + 1;
  f.pass = SectorPass(blocks);
  f.image = Padded(word.bytes, f.blockSize, blocks);
  return f;
}

Family NymFamily() {
  Family f;
  f.name = "Nym";
  f.sim = "nym";
  f.kind = Kind::Plain;
  f.driveArguments = {"--identity-hex", NYM_IDENTITY_HEX};
  f.identityLines = NYM_IDENTITY_LINES;
  f.flashSize = NYM_FLASH_SIZE;
  f.blockSize = 256;
  f.flashBase = 0x2000;  // the Nym monitor keeps sector A at A + 0x2000
  const std::string text = SRecordFile('2', 3, 0x010000, 9, 28, 11);
  const Bytes stream = NymRecordStream(text);
  const int blocks = static_cast<int>(stream.size() >> 8) + 1;
  f.pass = SectorPass(blocks);
  f.fileName = "fw.s";
  f.file = Bytes(text.begin(), text.end());
  f.image = Padded(stream, 256, blocks);
  f.writeFailure = "FLASH update failed on sector %d : error code %d\r\n";
  f.writeFailureShowsCode = true;
  f.readFailure = "FLASH verification failed on sector %d because of communication error %d\r\n";
  f.mismatch = Format(NYM_MISMATCH, "fw.s");
  return f;
}

Family Tk720Family(bool digest) {
  Family f;
  f.fileName = "fw.bin";
  f.file = Pattern(600, digest ? 41 : 23);
  f.blockSize = 256;
  f.flashSize = TK720_FLASH_SIZE;
  f.writeFailure = "FLASH update failed on block %d\r\n";
  f.writeFailureShowsCode = false;
  f.readFailure = "FLASH verification failed on block %d because of communication error %d\r\n";
  Bytes image;
  if (!digest) {
    f.name = "TK720";
    f.sim = "tk720";
    f.loaderOptions = {"/m"};
    f.kind = Kind::Plain;
    f.driveArguments = {"--identity-hex", NYM_NO_PERSONALITY_HEX};
    f.identityLines = NYM_NO_PERSONALITY_LINES;
    f.flashBase = 0x4000;
    image = ChecksummedImageOf(f.file);
    f.mismatch = Format(TK720_MISMATCH, "fw.bin");
  } else {
    f.name = "TK720Digest";
    f.sim = "tk720-digest";
    f.loaderOptions = {"/s"};
    f.kind = Kind::Digest;
    f.driveArguments = DigestDriveArguments();
    // The drive's flash holds no valid image when the run starts.
    f.identityLines =
        std::string(TK720_PERSONALITY_LINES) + "Device doesn't have any valid firmware\n";
    f.flashBase = 0x8000;
    image = DigestStampedImageOf(f.file);
    f.digest.assign(image.begin(), image.begin() + 16);
    f.pre =
        Format("Image size : %zu\n", image.size() - 20) + "File MD5 : " + Hex(f.digest) + "\n\n";
    f.mismatch = Format(DIGEST_MISMATCH, "fw.bin");
  }
  const int blocks = static_cast<int>((image.size() + 255) / 256);
  f.pass = BlockPassOf(blocks);
  f.image = Padded(image, 256, blocks);
  return f;
}

const std::vector<Family>& Families() {
  static const std::vector<Family> families = {NymFamily(), WordImageFamily(false),
                                               Tk720Family(false), WordImageFamily(true),
                                               Tk720Family(true)};
  return families;
}

std::vector<Phase> PhasesOf(const Family& f) {
  switch (f.kind) {
    case Kind::Plain:
      return {Phase::Link, Phase::Write, Phase::ReadBack};
    case Kind::Series27:
      return {Phase::Link, Phase::Write, Phase::ChecksumWrite, Phase::ChecksumRead,
              Phase::ReadBack};
    case Kind::Digest:
      return {Phase::Link, Phase::Write, Phase::DigestIdentify};
  }
  return {};
}

// ---------------------------------------------------------------- requests

// The request that a phase's fault hits: its number among all requests and
// among the requests of its own kind, as drive-sim counts them.
struct Target {
  int number;
  int kindNumber;
};

Target TargetOf(const Family& f, Phase phase) {
  const int t = f.blocks();
  const bool series27 = f.kind == Kind::Series27;
  switch (phase) {
    case Phase::Link:
      return {1, 1};
    case Phase::Write:
      return {HIT + 2, HIT + 1};
    case Phase::ChecksumWrite:
      return {t + 2, t + 1};
    case Phase::ChecksumRead:
      return {t + 3, 1};
    case Phase::ReadBack:
      return series27 ? Target{t + 4 + HIT, HIT + 2} : Target{t + 2 + HIT, HIT + 1};
    case Phase::DigestIdentify:
      return {t + 2, 2};
  }
  return {0, 0};
}

std::size_t StuckAddress(const Family& f, Phase phase) {
  if (phase == Phase::ChecksumRead) return CHECKSUM_SECTOR + 8;
  return f.flashBase + HIT * f.blockSize + 5;
}

// A value the stuck cell cannot hold by chance: the written byte, one bit off.
std::uint8_t StuckValue(const Family& f, Phase phase) {
  if (phase == Phase::ChecksumRead) return f.checksumSector[8] ^ 0x10;
  return f.image[HIT * f.blockSize + 5] ^ 0x10;
}

int StatusOf(Fault fault) {
  switch (fault) {
    case Fault::Status1:
      return 1;
    case Fault::Status16:
      return 16;
    case Fault::Status18:
      return 18;
    default:
      return 7;
  }
}

bool IsStatus(Fault fault) {
  return fault == Fault::Status1 || fault == Fault::Status16 || fault == Fault::Status18 ||
         fault == Fault::Status7;
}

bool Applies(const Family& f, Phase phase, Fault fault) {
  const bool reads = phase == Phase::ReadBack || phase == Phase::ChecksumRead;
  switch (fault) {
    // drive-sim can only keep silent from the first request on.
    case Fault::SilentFirst:
      return phase == Phase::Link;
    case Fault::ShortRead:
      return reads;
    case Fault::Stuck:
      return reads || phase == Phase::DigestIdentify;
    default:
      (void)f;
      return true;
  }
}

// ---------------------------------------------------------------- outcomes

// What the loader meets in a cell, in its own terms.
struct Outcome {
  int failedAttempts = 0;
  bool linkGivesUp = false;
  // Every later reply arrives one exchange late: the verdict must be a mismatch.
  bool shifted = false;
  // The exchange of the phase fails with one of these results.
  std::vector<int> codes;
  // The drive stored the block whose exchange failed.
  bool storedOnFailure = false;
  int blockErrors = 0;     // differing bytes of block HIT on read-back
  int checksumErrors = 0;  // differing bytes of the checksum sector
  bool digestLost = false;
};

Outcome OutcomeOf(const Family& f, Phase phase, Fault fault) {
  Outcome o;
  const bool absorbed = fault == Fault::Noise || fault == Fault::BadHeader ||
                        (fault == Fault::BadPayloadChecksum &&
                         (phase == Phase::Write || phase == Phase::ChecksumWrite));
  if (absorbed) return o;
  if (phase == Phase::Link) {
    if (fault == Fault::SilentFirst) o.failedAttempts = 2;
    if (fault == Fault::BadPayloadChecksum || IsStatus(fault)) o.failedAttempts = 1;
    if (fault == Fault::Late || fault == Fault::NoiseBeyondExchangeBudget) {
      o.failedAttempts = 1;
      o.shifted = true;
    }
    if (fault == Fault::Hangup) o.linkGivesUp = true;
    return o;
  }
  if (fault == Fault::ShortRead) {
    const int missing = static_cast<int>(f.blockSize) - SHORT_REPLY;
    (phase == Phase::ChecksumRead ? o.checksumErrors : o.blockErrors) = missing;
    return o;
  }
  if (fault == Fault::Stuck) {
    if (phase == Phase::ChecksumRead) o.checksumErrors = 1;
    if (phase == Phase::ReadBack) o.blockErrors = 1;
    if (phase == Phase::DigestIdentify) o.digestLost = true;
    return o;
  }
  if (fault == Fault::Late || fault == Fault::NoiseBeyondExchangeBudget) {
    o.codes = {16};
    o.storedOnFailure = true;
  } else if (fault == Fault::BadPayloadChecksum) {
    o.codes = {1};
  } else if (IsStatus(fault)) {
    o.codes = {StatusOf(fault)};
  } else if (fault == Fault::Hangup) {
    // The request may still reach the line before drive-sim closes it, and
    // then the read fails (16), or the write itself fails (18).
    o.codes = {16, 18};
  }
  return o;
}

std::vector<std::string> FaultArguments(const Family& f, Phase phase, Fault fault) {
  const Target t = TargetOf(f, phase);
  const std::string n = std::to_string(t.number);
  switch (fault) {
    case Fault::SilentFirst:
      return {"--silent-first", "2"};
    case Fault::Late:
      return {"--late", n};
    case Fault::Noise:
      return {"--noise", n + ":100"};
    case Fault::NoiseBeyondExchangeBudget:
      return {"--noise", n + ":" + std::to_string(EXCHANGE_BYTE_BUDGET + 1000)};
    case Fault::BadHeader:
      return {"--bad-header", n};
    case Fault::BadPayloadChecksum:
      return {"--bad-payload-checksum", n};
    case Fault::ShortRead:
      return {"--short-read", Format("%d:%d", t.kindNumber, SHORT_REPLY)};
    case Fault::Stuck:
      return {"--stuck", Format("0x%zX:0x%02X", StuckAddress(f, phase), StuckValue(f, phase))};
    case Fault::Hangup:
      // At the link, the drive keeps silent and is then pulled off the line.
      if (phase == Phase::Link) return {"--silent-first", "1", "--hangup-after", "1"};
      return {"--hangup-after", std::to_string(t.number - 1)};
    default:
      break;
  }
  const char* option = phase == Phase::Link || phase == Phase::DigestIdentify ? "--identify-status"
                       : phase == Phase::Write || phase == Phase::ChecksumWrite ? "--write-status"
                                                                                : "--read-status";
  return {option, Format("%d:%d", t.kindNumber, StatusOf(fault))};
}

// The drive's flash before the run: a pattern that no block sent equals.
Bytes Before(const Family& f) {
  return Pattern(f.flashSize, 97);
}

void PlaceBlocks(const Family& f, Bytes& flash, int count) {
  const auto end = f.image.begin() + static_cast<std::ptrdiff_t>(count * f.blockSize);
  Place(flash, f.flashBase, Bytes(f.image.begin(), end));
}

Bytes ExpectedFlash(const Family& f, Phase phase, Fault fault, const Outcome& o) {
  Bytes flash = Before(f);
  if (o.linkGivesUp) return flash;
  const bool failed = !o.codes.empty();
  if (failed && phase == Phase::Write) {
    PlaceBlocks(f, flash, HIT + (o.storedOnFailure ? 1 : 0));
    return flash;
  }
  PlaceBlocks(f, flash, f.blocks());
  const bool checksumWritten =
      f.kind == Kind::Series27 && !(failed && phase == Phase::ChecksumWrite && !o.storedOnFailure);
  if (checksumWritten) Place(flash, CHECKSUM_SECTOR, f.checksumSector);
  if (fault == Fault::Stuck) flash[StuckAddress(f, phase)] = StuckValue(f, phase);
  return flash;
}

// The whole output of a cell, for each result code that the cell allows.
std::string ExpectedOutput(const Family& f, const DriveSim& sim, Phase phase, const Outcome& o,
                           int code, int& status) {
  status = 1;
  if (o.linkGivesUp) {
    return Banner() + sim.PortLine() + Countdown(1000) +
           "Failed to establish connection with selected device\r\n\r\n";
  }
  const bool failed = !o.codes.empty();
  std::string out = Prologue(sim, f.identityLines, o.failedAttempts) + f.pre;
  if (failed && phase == Phase::Write) {
    return out + WriteProgress(f.pass, HIT) +
           (f.writeFailureShowsCode ? Format(f.writeFailure, HIT, code)
                                    : Format(f.writeFailure, HIT));
  }
  out += WritePass(f.pass);
  if (f.kind == Kind::Series27) {
    out += "Writing firmware checksum ...\r\n" + f.checksumLine;
    if (failed && phase == Phase::ChecksumWrite) {
      return out + "Firmware checksum update failed on sector 479\r\n";
    }
    if (failed && phase == Phase::ChecksumRead) {
      return out + "Failed to read sector with firmware checksum and length\r\n";
    }
    out += o.checksumErrors > 0
               ? Format("Firmware checksum sector 479 has %d errorneous location(s)\r\n",
                        o.checksumErrors)
               : "Firmware checksum sector is verified\r\n";
  }
  if (f.kind == Kind::Digest) {
    out += "Verifying firmware:\r\n";
    if (failed) return out + Format("Communication failure %d during verification\n", code);
    status = 0;
    if (o.digestLost) return out + "Unit doesn't have any valid firmware\n" + f.mismatch;
    return out + "Unit MD5 : " + Hex(f.digest) + "\n" + DIGEST_VERIFIED;
  }
  if (failed) return out + VerifyProgress(f.pass, HIT) + Format(f.readFailure, HIT, code);
  status = 0;
  if (o.blockErrors > 0) return out + VerifyPass(f.pass, {{HIT, o.blockErrors}}) + f.mismatch;
  return out + VerifyPass(f.pass) + VERIFIED;
}

// ---------------------------------------------------------------- cells

struct Cell {
  std::string name;
  const Family* family;
  Phase phase;
  Fault fault;
};

std::vector<Cell> Cells() {
  std::vector<Cell> cells;
  for (const Family& f : Families()) {
    for (Phase phase : PhasesOf(f)) {
      for (Fault fault : ALL_FAULTS) {
        if (!Applies(f, phase, fault)) continue;
        cells.push_back({std::string(f.name) + "_" + PhaseName(phase) + "_" + FaultName(fault), &f,
                         phase, fault});
      }
    }
  }
  return cells;
}

// Every cell ends well inside this, a vanished line included.
constexpr auto CELL_TIME_LIMIT = 60s;

class FaultMatrix : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultMatrix, EndsAsTheDriveDeservesAndKeepsItsFlashHonest) {
  const Cell& cell = GetParam();
  const Family& f = *cell.family;
  const Outcome o = OutcomeOf(f, cell.phase, cell.fault);
  TempDir dir;
  dir.Write(f.fileName, f.file);
  dir.Write("flash.in", Before(f));
  std::vector<std::string> arguments = f.driveArguments;
  arguments.insert(arguments.end(), {"--flash-in", dir.File("flash.in")});
  const std::vector<std::string> faults = FaultArguments(f, cell.phase, cell.fault);
  arguments.insert(arguments.end(), faults.begin(), faults.end());
  DriveSim sim(dir, f.sim, arguments);
  ASSERT_TRUE(sim.Started());

  std::vector<std::string> loaderArguments = f.loaderOptions;
  loaderArguments.push_back(f.fileName);
  const LoaderResult run = RunLoader(dir, &sim, loaderArguments, CELL_TIME_LIMIT);
  ASSERT_FALSE(run.timedOut);

  if (o.shifted) {
    // Every reply from here on answers the exchange before: writes still see
    // status 0, the read-back never matches.
    EXPECT_EQ(run.status, 0) << Escape(run.out);
    const std::string head = Prologue(sim, f.identityLines, o.failedAttempts) + f.pre;
    EXPECT_TRUE(SameOutput(head, run.out.substr(0, head.size())));
    EXPECT_TRUE(run.out.ends_with(f.mismatch)) << Escape(run.out);
  } else {
    const std::vector<int> codes = o.codes.empty() ? std::vector<int>{0} : o.codes;
    ::testing::AssertionResult matched = ::testing::AssertionFailure();
    for (int code : codes) {
      int status = 0;
      const std::string expected = ExpectedOutput(f, sim, cell.phase, o, code, status);
      matched = RanAs(run, status, expected);
      if (matched) break;
    }
    EXPECT_TRUE(matched);
  }

  Bytes flash;
  const ::testing::AssertionResult stopped = sim.Stop(flash);
  if (!stopped && cell.fault == Fault::Hangup) {
    // After hanging up, drive-sim saves its flash and exits on its own; the
    // stop signal can land while it is exiting. What it saved still counts.
    flash = ReadBytes(dir.File("sim-flash.out"));
  } else {
    ASSERT_TRUE(stopped);
  }
  Bytes expected = ExpectedFlash(f, cell.phase, cell.fault, o);
  if (f.kind == Kind::Digest && flash.size() == expected.size() && expected != Before(f)) {
    // The time stamp is the clock's: take the drive's.
    for (std::size_t i = 16; i < 20; ++i) expected[f.flashBase + i] = flash[f.flashBase + i];
  }
  EXPECT_TRUE(SameFlash(expected, flash));

  // Whatever the cell: the success verdict only for a drive that holds the image.
  if (run.out.find(SUCCESS_WORDS) != std::string::npos) {
    Bytes holding = flash;
    PlaceBlocks(f, holding, f.blocks());
    if (f.kind == Kind::Digest) {
      for (std::size_t i = 16; i < 20; ++i) holding[f.flashBase + i] = flash[f.flashBase + i];
    }
    EXPECT_TRUE(SameFlash(holding, flash)) << "success verdict for a flash that differs";
  }
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(Cells()),
                         [](const auto& info) { return info.param.name; });

// The size of the matrix, as the README states it: 13 faults, 6 phases, 5
// families, of which these cells are the ones where the fault can happen.
TEST(FaultMatrixSize, CoversEveryFaultPhaseAndFamily) {
  const std::vector<Cell> cells = Cells();
  EXPECT_EQ(std::size(ALL_FAULTS), 13u);
  EXPECT_EQ(Families().size(), 5u);
  for (Fault fault : ALL_FAULTS) {
    EXPECT_TRUE(std::any_of(cells.begin(), cells.end(), [&](const Cell& c) {
      return c.fault == fault;
    })) << FaultName(fault);
  }
  for (Phase phase : {Phase::Link, Phase::Write, Phase::ChecksumWrite, Phase::ChecksumRead,
                      Phase::ReadBack, Phase::DigestIdentify}) {
    EXPECT_TRUE(std::any_of(cells.begin(), cells.end(), [&](const Cell& c) {
      return c.phase == phase;
    })) << PhaseName(phase);
  }
  EXPECT_EQ(cells.size(), 186u);
}

}  // namespace
}  // namespace kelvane::e2e
