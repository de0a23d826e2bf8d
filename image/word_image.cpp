#include "image/word_image.h"

#include <algorithm>
#include <cstddef>

#include "image/record_lines.h"
#include "link/drive_commands.h"

namespace kelvane {

namespace {

// S1 and S2 record lines of up to 198 characters: the line buffer holds 199
// characters and its terminating zero.
constexpr std::size_t LONGEST_WORD_IMAGE_LINE = 199;

// The four checksum bytes that follow the data in the image.
constexpr std::size_t CHECKSUM_BYTES = 4;

// Decodes `count` consecutive pairs at `text` into one big-endian value, as
// the address field of a record is written.
bool DecodeHexField(std::uint32_t& value, const char* text, int count) {
  value = 0;
  for (int i = 0; i < count; ++i) {
    std::uint8_t byte = 0;
    if (!DecodeHexPair(byte, text + 2 * i)) return false;
    value = (value << 8) | byte;
  }
  return true;
}

class WordImageReader {
 public:
  WordImageReader(std::FILE* file, std::span<std::uint8_t> area, int maxLength, FileMessages& out)
      : lines_(file, LONGEST_WORD_IMAGE_LINE, '2'), area_(area), out_(out) {
    // The image, checksum included, must fit both the caller's limit and the
    // area itself, so that nothing is ever stored outside the area.
    limit_ =
        std::min<std::size_t>(maxLength < 0 ? 0 : static_cast<std::size_t>(maxLength), area.size());
  }

  int Read(int& size);

 private:
  // Handles one record line; false after printing why the file is refused.
  bool TakeRecord();
  // S1/S2 (data) and S9/S8 (start address) records with an address of
  // `addressBytes` bytes.
  bool TakeAddressRecord(int addressBytes, bool isData);
  bool Refuse(const char* format) {
    out_.Refuse(format, lines_.lineNumber());
    return false;
  }
  // Most often a line that is not an S-record is one too long for the
  // reader, or the file is a binary image.
  bool RefuseNotSRecord() {
    Refuse("Error (file:%d) : not an S-record found\r\n");
    lines_.ExplainRefusal(out_);
    return false;
  }

  RecordLineReader lines_;
  std::span<std::uint8_t> area_;
  FileMessages& out_;
  std::size_t limit_ = 0;
  // Data length D: the end of the highest record seen so far.
  std::size_t dataLength_ = 0;
  bool dataRecords_ = false;
};

int WordImageReader::Read(int& size) {
  for (;;) {
    const RecordLineReader::Line line = lines_.Next();
    if (line == RecordLineReader::Line::End) break;
    bool taken = false;
    if (line == RecordLineReader::Line::ReadError) {
      taken = Refuse("Error (file:%d) : file cannot be read\r\n");
    } else {
      taken = TakeRecord();
    }
    if (!taken) {
      size = static_cast<int>(dataLength_);
      return 1;
    }
  }

  // An image of no data would leave the drive with a checksum and no
  // firmware: most likely the wrong file was picked.
  if (!dataRecords_) {
    size = 0;
    return RefuseFileWithoutFirmware(out_);
  }
  // Only an area too small for even the checksum of an empty image gets here
  // with no room left; every record has been checked on its own line.
  if (dataLength_ + dataLength_ % 2 + CHECKSUM_BYTES > limit_) {
    Refuse("Error (file:%d) : record does not fit in the flash image area\r\n");
    size = static_cast<int>(dataLength_);
    return 1;
  }

  // The drive's flash is an array of 16-bit words: an odd image gets a zero
  // byte to complete its last word.
  if (dataLength_ % 2 != 0) {
    out_.Warn(
        "\r\nWarning : input file has odd number of bytes (%d) when\r\n"
        "          Atmel Flash organized as 16 bit word's array !\r\n",
        static_cast<int>(dataLength_));
    area_[dataLength_] = 0x00;
    ++dataLength_;
  }

  const std::uint32_t checksum = WordImageChecksum(area_.first(dataLength_));
  StoreWord32(area_.subspan(dataLength_).first<4>(), checksum, ByteOrder::LeastSignificantFirst);

  const int length = static_cast<int>(dataLength_ + CHECKSUM_BYTES);
  size = length;
  out_.Note("\r\nFirmware size: %d checksum %08x\r\n", length, static_cast<unsigned>(checksum));
  return 0;
}

bool WordImageReader::TakeRecord() {
  if (!lines_.LooksLikeRecord()) return RefuseNotSRecord();
  switch (lines_.recordType()) {
    case '0':  // header
    case '5':  // record count
      return true;
    case '1':
      return TakeAddressRecord(2, true);
    case '9':
      return TakeAddressRecord(2, false);
    case '2':
      return TakeAddressRecord(3, true);
    case '8':
      return TakeAddressRecord(3, false);
    case '3':
    case '7':
      return Refuse("Error (file:%d) : 3 and 4 byte address field S-records are not supported\r\n");
    default:
      return RefuseNotSRecord();
  }
}

bool WordImageReader::TakeAddressRecord(int addressBytes, bool isData) {
  const char* text = lines_.text();
  std::uint8_t count = 0;
  std::uint32_t address = 0;
  if (!DecodeHexPair(count, text + 2) || !DecodeHexField(address, text + 4, addressBytes)) {
    return RefuseNotSRecord();
  }

  if (!isData) {
    // A start record only says where the drive would begin executing; the
    // drive always starts at zero, so anything else deserves a word.
    if (address != 0) {
      out_.Warn("Warning (file:%d) : starting execution address is not zero\r\n",
                lines_.lineNumber());
    }
    return true;
  }

  // The count covers the address, the data and the checksum byte.
  const std::size_t dataBytes = count > addressBytes + 1 ? count - addressBytes - 1 : 0;
  const std::size_t end = static_cast<std::size_t>(address) + dataBytes;
  // The image grows to this record's end, made even, plus the checksum: it
  // must stay within the limit before a single byte of the record is stored.
  const std::size_t evenEnd = end + end % 2;
  if (evenEnd + CHECKSUM_BYTES > limit_) {
    return Refuse("Error (file:%d) : record does not fit in the flash image area\r\n");
  }

  const char* data = text + 4 + 2 * addressBytes;
  for (std::size_t j = 0; j < dataBytes; ++j) {
    if (!DecodeHexPair(area_[address + j], data + 2 * j)) {
      return RefuseNotSRecord();
    }
  }
  dataLength_ = std::max(dataLength_, end);
  dataRecords_ = true;
  return true;
}

std::uint32_t Word16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8);
}

// Bytes of data in one record the writer makes: 32, so that the record
// boundaries fall on the 64 KiB line between S1 and S2 addresses.
constexpr std::size_t RECORD_DATA_BYTES = 32;

void AppendRecord(std::string& text, char type, std::uint32_t address, int addressBytes,
                  std::span<const std::uint8_t> data) {
  char pair[3];
  const auto put = [&](std::uint32_t byte) {
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(byte & 0xFF));
    text += pair;
  };
  const auto count = static_cast<std::uint32_t>(addressBytes + data.size() + 1);
  std::uint32_t sum = count;
  text += 'S';
  text += type;
  put(count);
  for (int i = addressBytes - 1; i >= 0; --i) {
    put(address >> (8 * i));
    sum += address >> (8 * i);
  }
  for (const std::uint8_t byte : data) {
    put(byte);
    sum += byte;
  }
  put(~sum);
  text += "\r\n";
}

}  // namespace

std::uint32_t WordImageChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) checksum += Word16(data, i);
  return checksum;
}

int FindWordImageLength(std::span<const std::uint8_t> flash) {
  int length = 0;
  std::uint32_t sum = 0;
  for (std::size_t end = 0; end + CHECKSUM_BYTES <= flash.size(); end += 2) {
    const auto stored = flash.subspan(end).first<CHECKSUM_BYTES>();
    if (LoadWord32(stored, ByteOrder::LeastSignificantFirst) == sum)
      length = static_cast<int>(end + CHECKSUM_BYTES);
    sum += Word16(flash, end);
  }
  return length;
}

std::string FormatWordImage(std::span<const std::uint8_t> data) {
  std::string text = EMPTY_HEADER_RECORD;
  bool above16Bits = false;
  for (std::size_t at = 0; at < data.size(); at += RECORD_DATA_BYTES) {
    const auto record = data.subspan(at, std::min(RECORD_DATA_BYTES, data.size() - at));
    // The reader fills the area with 0xFF, so erased runs need no record;
    // the last one sets the image's length and is always written.
    const bool last = at + record.size() == data.size();
    if (!last && std::ranges::all_of(record, [](std::uint8_t b) { return b == 0xFF; })) continue;
    const bool fits16 = at + record.size() <= 0x10000;
    above16Bits = above16Bits || !fits16;
    AppendRecord(text, fits16 ? '1' : '2', static_cast<std::uint32_t>(at), fits16 ? 2 : 3, record);
  }
  AppendRecord(text, above16Bits ? '8' : '9', 0, above16Bits ? 3 : 2, {});
  return text;
}

int ReadWordImage(std::FILE* file, std::span<std::uint8_t> area, int maxLength, int& size,
                  FileMessages& out) {
  WordImageReader reader(file, area, maxLength, out);
  return reader.Read(size);
}

}  // namespace kelvane
