#include "flash/firmware_backup.h"

#include <algorithm>
#include <string>

#include "flash/checksum_sector.h"
#include "flash/procedures.h"
#include "image/checksummed_image.h"
#include "image/record_stream.h"
#include "image/whole_file.h"
#include "image/word_image.h"
#include "link/frame_exchange.h"

namespace kelvane {

namespace {

bool Erased(std::span<const std::uint8_t> bytes) {
  return std::ranges::all_of(bytes, [](std::uint8_t byte) { return byte == 0xFF; });
}

// Whole blocks that `bytes` bytes take.
int BlocksFor(const BlockFamily& family, std::size_t bytes) {
  return static_cast<int>((bytes + family.blockSize - 1) / family.blockSize);
}

// A drive that holds no image of its family has nothing a load could put
// back: erased flash, or bytes the family's format cannot be read from.
int NoImage(std::span<const std::uint8_t> read, const char* image, const std::string& why,
            std::FILE* out) {
  if (Erased(read)) {
    std::fputs("The drive holds no firmware: its image area is empty (all 0xFF)\r\n", out);
  } else {
    std::fprintf(out, "The drive holds no valid %s: %s\r\n", image, why.c_str());
  }
  return 1;
}

// A stream of S7/S8 records alone is no firmware, and no file a load takes.
bool HoldsDataRecords(std::span<const std::uint8_t> records) {
  for (std::size_t p = 0; p + 1 < records.size(); p += 2 + records[p + 1]) {
    if (records[p] == '2' || records[p] == '3') return true;
  }
  return false;
}

void Take(const std::string& text, std::vector<std::uint8_t>& file) {
  file.assign(text.begin(), text.end());
}

// The 27 series' checksum sector: the length of the image it describes, and
// its checksum, or 0 after saying why there is none. `sector` keeps what was
// read.
int ReadChecksumSector(SerialPort& port, const BlockFamily& family,
                       std::vector<std::uint8_t>& sector, std::uint32_t& checksum, std::FILE* out) {
  std::span<const std::uint8_t> reply;
  if (ReadFlashBlock(port, family, CHECKSUM_SECTOR_ADDRESS, CHECKSUM_SECTOR_SIZE, reply) !=
          LINK_OK ||
      reply.size() < CHECKSUM_SECTOR_SIZE) {
    std::fputs("Failed to read sector with firmware checksum and length\r\n", out);
    return -1;
  }
  sector.assign(reply.begin(), reply.begin() + CHECKSUM_SECTOR_SIZE);
  const auto field = [&sector](std::size_t at) {
    return LoadWord32(std::span<const std::uint8_t>(sector).subspan(at).first<4>(),
                      ByteOrder::LeastSignificantFirst);
  };
  if (field(0) != CHECKSUM_SECTOR_MARKER) {
    NoImage(sector, "word image", "its checksum sector holds no marker", out);
    return -1;
  }
  const std::uint32_t words = field(4);
  checksum = field(8);
  std::fprintf(out, "Firmware checksum is %08x, size in WORDs %d\r\n",
               static_cast<unsigned>(checksum), static_cast<int>(words));
  if (words > static_cast<std::uint32_t>(family.maxImageLength - 4) / 2) {
    NoImage(sector, "word image", "its checksum sector gives more words than the flash holds", out);
    return -1;
  }
  return static_cast<int>(2 * words + 4);
}

}  // namespace

int BackUpRecordStream(SerialPort& port, const BlockFamily& family, std::vector<std::uint8_t>& file,
                       std::FILE* out) {
  const int most = BlocksFor(family, family.readArea);
  std::size_t position = 0;
  StreamScan scan = StreamScan::Unfinished;
  // The stream is read until its end marker has come, and not a block more.
  const BlocksNeeded needed = [&](std::span<const std::uint8_t> read) {
    if (scan == StreamScan::Unfinished) scan = ScanRecordStream(read, position);
    return scan == StreamScan::Unfinished ? most : BlocksFor(family, read.size());
  };
  std::vector<std::uint8_t> flash;
  if (RunReadPass(port, family, needed, flash, out) != 0) return 1;
  if (scan == StreamScan::Invalid)
    return NoImage(flash, "record stream", "it breaks off at byte " + std::to_string(position),
                   out);
  if (scan == StreamScan::Unfinished)
    return NoImage(flash, "record stream", "it has no end marker", out);
  const auto records = std::span<const std::uint8_t>(flash).first(position - 2);
  if (!HoldsDataRecords(records))
    return NoImage(flash, "record stream", "it holds no data records", out);
  Take(FormatRecordStream(records), file);
  return 0;
}

int BackUpWordImage(SerialPort& port, const BlockFamily& family, std::vector<std::uint8_t>& file,
                    std::FILE* out) {
  std::vector<std::uint8_t> sector;
  std::uint32_t checksum = 0;
  int length = 0;
  if (family.checksumSector &&
      (length = ReadChecksumSector(port, family, sector, checksum, out)) < 0)
    return 1;
  // Without a checksum sector every block that can hold an image is read.
  const int blocks =
      family.checksumSector ? BlockCount(family, length) : BlocksFor(family, family.readArea);
  std::vector<std::uint8_t> flash;
  if (RunReadPass(
          port, family, [blocks](auto) { return blocks; }, flash, out) != 0)
    return 1;
  const auto image = std::span<const std::uint8_t>(flash).first(
      std::min<std::size_t>(flash.size(), static_cast<std::size_t>(family.maxImageLength)));
  if (!family.checksumSector) {
    length = FindWordImageLength(image);
    if (length == 0) return NoImage(flash, "word image", "no image ends in its checksum", out);
  } else if (WordImageChecksum(image.first(length - 4)) != checksum ||
             LoadWord32(image.subspan(length - 4).first<4>(), ByteOrder::LeastSignificantFirst) !=
                 checksum) {
    return NoImage(flash, "word image", "the image does not match its checksum sector", out);
  }
  // A checksum with nothing before it is no firmware, and no file a load takes.
  if (length == 4) return NoImage(flash, "word image", "it holds no data", out);
  Take(FormatWordImage(image.first(length - 4)), file);
  return 0;
}

int BackUpChecksummedImage(SerialPort& port, const BlockFamily& family,
                           std::vector<std::uint8_t>& file, std::FILE* out) {
  int length = 0;
  // The header in the first block gives the image's length.
  const BlocksNeeded needed = [&](std::span<const std::uint8_t> read) {
    if (read.empty()) return 1;
    length = ChecksummedImageLength(read.first<8>());
    const bool fits = length > 0 && static_cast<std::size_t>(length) <= family.readArea;
    return fits ? BlockCount(family, length) : 1;
  };
  std::vector<std::uint8_t> flash;
  if (RunReadPass(port, family, needed, flash, out) != 0) return 1;
  const char* why = nullptr;
  if (length == 0) {
    why = "no header with the image magic and a word count";
  } else if (static_cast<std::size_t>(length) > family.readArea) {
    why = "its header gives more words than the flash holds";
  } else if (!ChecksummedImageSumsToZero(std::span(flash).first(length))) {
    why = "its words do not sum to zero";
  }
  if (why != nullptr) return NoImage(flash, "TK720 image", why, out);
  std::fprintf(out, "The drive holds a valid TK720 image of %d bytes\r\n", length);
  // The load appends the check word again, the same since the sum is zero.
  file.assign(flash.begin(), flash.begin() + (length - 4));
  return 0;
}

int RunBackupProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                       FirmwareBackup backup, std::FILE* out) {
  const char* name = options.backupFileName->c_str();
  // A folder that cannot take the file is found out before the drive is read.
  if (!CanSaveFile(name)) {
    std::fprintf(out, "Can't create file %s\r\n", name);
    return PROCEDURE_FAILED;
  }
  std::vector<std::uint8_t> file;
  if (backup(port, family, file, out) != 0) return PROCEDURE_FAILED;
  if (SaveWholeFile(name, file) != 0) {
    std::fprintf(out, "Can't write file %s\r\n", name);
    return PROCEDURE_FAILED;
  }
  std::fprintf(out, "Firmware saved into %s (%d bytes)\r\n", name, static_cast<int>(file.size()));
  std::fflush(out);
  return PROCEDURE_MATCHED;
}

}  // namespace kelvane
