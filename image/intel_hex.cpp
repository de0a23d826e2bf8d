#include "image/intel_hex.h"

#include <vector>

#include "image/record_lines.h"

namespace kelvane {

namespace {

// Where DOS and Windows tools end a text file, as for S-record files.
constexpr std::uint8_t DOS_END_OF_FILE = 0x1A;

enum RecordType : std::uint8_t {
  DATA = 0x00,
  END_OF_FILE = 0x01,
  EXTENDED_SEGMENT_ADDRESS = 0x02,
  START_SEGMENT_ADDRESS = 0x03,
  EXTENDED_LINEAR_ADDRESS = 0x04,
  START_LINEAR_ADDRESS = 0x05,
};

// Either case: the toolchains that write Intel HEX use both.
int HexValue(std::uint8_t digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

bool IsBlank(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The record bytes that the hex digits of `digits` spell; false when a
// character is no hex digit or the count is odd.
bool DecodeDigits(std::span<const std::uint8_t> digits, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (digits.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexValue(digits[i]), low = HexValue(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

bool AllHex(std::span<const std::uint8_t> digits) {
  for (const std::uint8_t c : digits)
    if (HexValue(c) < 0) return false;
  return true;
}

// The byte that makes the sum of a record's bytes, itself included, zero.
std::uint8_t HexChecksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t byte : bytes) sum += byte;
  return static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

// The number of bytes a record of `type` holds, or -1 for any number.
int FixedLength(std::uint8_t type) {
  switch (type) {
    case END_OF_FILE:
      return 0;
    case EXTENDED_SEGMENT_ADDRESS:
    case EXTENDED_LINEAR_ADDRESS:
      return 2;
    case START_SEGMENT_ADDRESS:
    case START_LINEAR_ADDRESS:
      return 4;
    default:
      return -1;
  }
}

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (const std::uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}

}  // namespace

bool LooksLikeIntelHex(std::span<const std::uint8_t> file) {
  for (const std::uint8_t c : file) {
    if (c == '\n' || IsBlank(c)) continue;
    return c == ':';
  }
  return false;
}

bool BeginsWithIntelHexRecord(std::span<const std::uint8_t> file) {
  if (file.size() < 11 || file[0] != ':') return false;
  std::size_t end = 1;
  while (end < file.size() && file[end] != '\n' && file[end] != '\r') ++end;
  if (end == file.size()) return false;
  if (file[end] == '\r' && (end + 1 == file.size() || file[end + 1] != '\n')) return false;
  std::vector<std::uint8_t> bytes;
  if (!DecodeDigits(file.subspan(1, end - 1), bytes) || bytes.empty() ||
      bytes.size() != bytes[0] + 5u)
    return false;
  return HexChecksum(std::span(bytes).first(bytes.size() - 1)) == bytes.back();
}

FileRead ReadIntelHex(std::span<const std::uint8_t> file, DataSink& sink, FileMessages& out) {
  int lineNumber = 0, lastLine = 0;
  bool ended = false;
  int dataRecords = 0;
  std::uint32_t base = 0;
  std::vector<std::uint8_t> bytes;
  const auto refuse = [&](const char* text) {
    out.Refuse("Error (file:%d) : %s\r\n", lineNumber, text);
    return FileRead::Refused;
  };
  for (std::size_t at = 0; at < file.size();) {
    std::size_t end = at;
    while (end < file.size() && file[end] != '\n' && file[end] != DOS_END_OF_FILE) ++end;
    const std::span<const std::uint8_t> whole = file.subspan(at, end - at);
    const bool dosEnd = end < file.size() && file[end] == DOS_END_OF_FILE;
    at = dosEnd ? file.size() : end + 1;
    ++lineNumber;
    // Trailing blanks and the CR of a DOS line end are no part of a record.
    std::size_t length = whole.size();
    while (length > 0 && IsBlank(whole[length - 1])) --length;
    if (length == 0) continue;
    lastLine = lineNumber;
    const std::span<const std::uint8_t> line = whole.first(length);
    if (line[0] != ':' || line.size() < 3 || !AllHex(line.subspan(1))) {
      return refuse("not an Intel HEX record");
    }
    const std::span<const std::uint8_t> digits = line.subspan(1);
    const int count = HexValue(digits[0]) * 16 + HexValue(digits[1]);
    if (!DecodeDigits(digits, bytes) || bytes.size() != static_cast<std::size_t>(count) + 5) {
      out.Refuse("Error (file:%d) : record length does not match its byte count %02X\r\n",
                 lineNumber, static_cast<unsigned>(count));
      out.Explain(
          "Line %d holds %zu hex digits where its byte count gives %d: the file was cut "
          "short or damaged\n",
          lineNumber, digits.size(), 2 * (count + 5));
      return FileRead::Refused;
    }
    const std::uint8_t expected = HexChecksum(std::span(bytes).first(bytes.size() - 1));
    if (expected != bytes.back()) {
      out.Refuse("Error (file:%d) : record checksum is %02X where its bytes give %02X\r\n",
                 lineNumber, unsigned{bytes.back()}, unsigned{expected});
      out.Explain(
          "Line %d does not hold the bytes its checksum was made for: the file was "
          "damaged or changed by hand\n",
          lineNumber);
      return FileRead::Refused;
    }
    if (ended) return refuse("record after the end of file record");
    const std::uint8_t type = bytes[3];
    const std::uint32_t offset = BigEndian(std::span(bytes).subspan(1, 2));
    const auto data =
        std::span<const std::uint8_t>(bytes).subspan(4, static_cast<std::size_t>(count));
    if (type > START_LINEAR_ADDRESS) {
      out.Refuse("Error (file:%d) : unknown Intel HEX record type %02X\r\n", lineNumber,
                 unsigned{type});
      return FileRead::Refused;
    }
    const int fixed = FixedLength(type);
    if (fixed >= 0 && fixed != count) {
      out.Refuse("Error (file:%d) : Intel HEX record of type %02X holds %d bytes, not %d\r\n",
                 lineNumber, unsigned{type}, count, fixed);
      return FileRead::Refused;
    }
    const Origin origin{Origin::Kind::Line, lineNumber};
    switch (type) {
      case DATA:
        // The offset does not wrap: data beyond 64 KiB needs a new base.
        if (offset + static_cast<std::uint32_t>(count) > 0x10000) {
          return refuse("data record runs past offset FFFF");
        }
        ++dataRecords;
        if (!sink.TakeData(std::uint64_t{base} + offset, data, origin)) return FileRead::Refused;
        break;
      case END_OF_FILE:
        ended = true;
        break;
      case EXTENDED_SEGMENT_ADDRESS:
        base = BigEndian(data) * 16;
        break;
      case EXTENDED_LINEAR_ADDRESS:
        base = BigEndian(data) << 16;
        break;
      case START_SEGMENT_ADDRESS:
        // CS:IP, as the 8086 takes it.
        sink.TakeStart(std::uint64_t{BigEndian(data.first(2))} * 16 + BigEndian(data.subspan(2)),
                       origin);
        break;
      case START_LINEAR_ADDRESS:
        sink.TakeStart(BigEndian(data), origin);
        break;
    }
  }
  if (!ended) {
    lineNumber = lastLine;
    return refuse("Intel HEX file has no end of file record: it may have been cut short");
  }
  if (dataRecords == 0) return RefuseFileWithoutFirmware(out);
  return FileRead::Taken;
}

}  // namespace kelvane
