#include "image/record_stream.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "image/elf_file.h"
#include "image/intel_hex.h"
#include "image/record_lines.h"

namespace kelvane {

namespace {

// Record lines of up to 98 characters: the line buffer holds 99 characters
// and its terminating zero.
constexpr std::size_t LONGEST_RECORD_STREAM_LINE = 99;

// The two 0xFF bytes that close the stream: the drive's monitor stops
// reading records where it finds them.
constexpr std::size_t TERMINATOR_BYTES = 2;

// The drive is sent (length >> 8) + 1 whole sectors, so the stream, its
// terminator included, must end before the last byte of the area for every
// sector sent to lie inside it.
bool StreamFits(std::size_t streamLength, std::size_t areaSize) {
  return streamLength < areaSize;
}

// The most bytes after the count that one line can carry: the line is the
// type, the count and two characters for each of them.
constexpr std::size_t LONGEST_RECORD_COUNT = (LONGEST_RECORD_STREAM_LINE - 5) / 2;

bool IsRecordType(std::uint8_t type) {
  return type == '2' || type == '3' || type == '7' || type == '8';
}

// Data bytes in one record packed from Intel HEX or ELF data, as objcopy
// --srec-len=32 writes them.
constexpr std::size_t PACKED_DATA_BYTES = 32;
// Records whose last byte lies at or above this address need S3 (and a
// start address there S7): S2 and S8 hold 24-bit addresses.
constexpr std::uint64_t S3_ADDRESSES = 0x1000000;

// The stream as the readers fill it: S-record lines copied as they are,
// Intel HEX and ELF data packed into records.
class StreamWriter : public SRecordTaker, public DataSink {
 public:
  StreamWriter(std::span<std::uint8_t> area, FileMessages& out) : area_(area), out_(out) {}

  bool TakeRecord(const SRecord& record, int lineNumber) override {
    // The record goes into the stream as the drive's monitor parses it: the
    // type digit, the count, then the count's worth of bytes (address, data
    // and the record's own checksum byte).
    const Origin origin{Origin::Kind::Line, lineNumber};
    if (!Append(static_cast<std::uint8_t>(record.type), record.bytes(), origin)) return false;
    if (record.type == '2' || record.type == '3')
      placed_.Add(record.address, record.data(), origin);
    return true;
  }

  bool TakeData(std::uint64_t address, std::span<const std::uint8_t> bytes,
                Origin origin) override {
    placed_.Add(address, bytes, origin);
    for (std::size_t at = 0; at < bytes.size(); at += PACKED_DATA_BYTES) {
      const auto data = bytes.subspan(at, std::min(PACKED_DATA_BYTES, bytes.size() - at));
      const std::uint64_t first = address + at;
      const bool wide = first + data.size() - 1 >= S3_ADDRESSES;
      if (!AppendAddressed(wide ? '3' : '2', wide ? 4 : 3, first, data, origin)) return false;
    }
    lastOrigin_ = origin;
    return true;
  }

  void TakeStart(std::uint64_t address, Origin origin) override {
    start_ = address;
    lastOrigin_ = origin;
  }

  // The end record of packed data, with the start address.
  bool AppendEnd() {
    const bool wide = start_ >= S3_ADDRESSES;
    return AppendAddressed(wide ? '7' : '8', wide ? 4 : 3, start_, {}, lastOrigin_);
  }

  // Closes the stream with its terminator; false after refusing a stream
  // with no room for it.
  bool Close(int lineNumber, int& length) {
    // Only an area too small for an empty stream gets here without room;
    // every record has been checked on its own line.
    if (!StreamFits(p_ + TERMINATOR_BYTES, area_.size())) {
      out_.Refuse("Error (file:%d) : record does not fit in the flash image area\r\n", lineNumber);
      return false;
    }
    area_[p_] = 0xFF;
    area_[p_ + 1] = 0xFF;
    length = static_cast<int>(p_ + TERMINATOR_BYTES);
    return true;
  }

  const PlacedData& placed() const { return placed_; }

 private:
  bool AppendAddressed(char type, int addressBytes, std::uint64_t address,
                       std::span<const std::uint8_t> data, Origin origin) {
    std::vector<std::uint8_t> bytes;
    for (int i = addressBytes - 1; i >= 0; --i)
      bytes.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(0);
    const std::uint8_t count = static_cast<std::uint8_t>(bytes.size());
    std::vector<std::uint8_t> summed = {count};
    summed.insert(summed.end(), bytes.begin(), bytes.end() - 1);
    bytes.back() = RecordChecksum(summed);
    return Append(static_cast<std::uint8_t>(type), bytes, origin);
  }

  bool Append(std::uint8_t type, std::span<const std::uint8_t> bytes, Origin origin) {
    const std::size_t recordBytes = 2 + bytes.size();
    if (!StreamFits(p_ + recordBytes + TERMINATOR_BYTES, area_.size())) {
      out_.Refuse("Error (%s) : record does not fit in the flash image area\r\n",
                  OriginTag(origin).c_str());
      return false;
    }
    area_[p_] = type;
    area_[p_ + 1] = static_cast<std::uint8_t>(bytes.size());
    std::ranges::copy(bytes, area_.begin() + static_cast<std::ptrdiff_t>(p_ + 2));
    p_ += recordBytes;
    return true;
  }

  std::span<std::uint8_t> area_;
  FileMessages& out_;
  std::size_t p_ = 0;
  std::uint64_t start_ = 0;
  Origin lastOrigin_;
  PlacedData placed_;
};

constexpr SRecordRules NYM_RULES = {
    .longestLine = LONGEST_RECORD_STREAM_LINE,
    .widestRecord = '3',
    .dataTypes = "23",
    .endTypes = "78",
    .refusedTypes = "19",
    .refusedMessage = "Error (file:%d) : 2 byte address field S-record is not supported\r\n"};

}  // namespace

FileRead ReadRecordStream(std::span<const std::uint8_t> file, std::span<std::uint8_t> area,
                          int& length, FileMessages& out, FileDescription* description) {
  StreamWriter stream(area, out);
  std::string format;
  FileRead result = FileRead::Taken;
  // Intel HEX and ELF data is packed into records, closed by an end record.
  bool packed = true;
  if (BeginsWithElfMagic(file)) {
    result = ReadElfFile(file, stream, out, format);
  } else if (LooksLikeIntelHex(file)) {
    format = "Intel HEX";
    result = ReadIntelHex(file, stream, out);
  } else {
    packed = false;
    result = ReadSRecords(file, NYM_RULES, stream, out, format);
  }
  if (result == FileRead::Taken && packed && !stream.AppendEnd()) result = FileRead::Refused;
  if (result == FileRead::Taken && !stream.Close(0, length)) result = FileRead::Refused;
  if (result != FileRead::Taken) return FileRead::Refused;
  stream.placed().WarnOverlaps(out);
  if (description != nullptr) *description = {format, stream.placed().Ranges()};
  return FileRead::Taken;
}

StreamScan ScanRecordStream(std::span<const std::uint8_t> stream, std::size_t& position) {
  while (position + 1 < stream.size()) {
    const std::uint8_t type = stream[position];
    const std::uint8_t count = stream[position + 1];
    if (type == 0xFF && count == 0xFF) {
      position += TERMINATOR_BYTES;
      return StreamScan::Ended;
    }
    if (!IsRecordType(type) || count > LONGEST_RECORD_COUNT) return StreamScan::Invalid;
    if (position + 2 + count > stream.size()) break;
    position += 2 + static_cast<std::size_t>(count);
  }
  return StreamScan::Unfinished;
}

std::string FormatRecordStream(std::span<const std::uint8_t> records) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  std::string text = EMPTY_HEADER_RECORD;
  unsigned dataRecords = 0;
  bool ended = false;
  for (std::size_t p = 0; p + 1 < records.size();) {
    dataRecords += records[p] == '2' || records[p] == '3';
    ended = ended || records[p] == '7' || records[p] == '8';
    const std::size_t end = std::min(records.size(), p + 2 + records[p + 1]);
    text += 'S';
    text += static_cast<char>(records[p]);
    for (++p; p < end; ++p) {
      text += DIGITS[records[p] >> 4];
      text += DIGITS[records[p] & 0x0F];
    }
    text += "\r\n";
  }
  // A stream loaded from a file without an end record gets a count record
  // instead, which the stream does not hold: it says the backup is whole.
  if (!ended && dataRecords <= 0xFFFF) {
    const std::uint8_t count[] = {3, static_cast<std::uint8_t>(dataRecords >> 8),
                                  static_cast<std::uint8_t>(dataRecords)};
    char line[16];
    std::snprintf(line, sizeof line, "S5%02X%02X%02X%02X\r\n", count[0], count[1], count[2],
                  RecordChecksum(count));
    text += line;
  }
  return text;
}

}  // namespace kelvane
