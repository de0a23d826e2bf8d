#include "image/record_stream.h"

#include <algorithm>
#include <cstddef>

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

int Refuse(const char* format, const RecordLineReader& lines, FileMessages& out) {
  out.Refuse(format, lines.lineNumber());
  return 1;
}

// Most often a line that is not an S-record is one too long for this reader,
// or the file is a binary image.
int RefuseNotSRecord(RecordLineReader& lines, FileMessages& out) {
  Refuse("Error (file:%d) : not an S-record found\r\n", lines, out);
  lines.ExplainRefusal(out);
  return 1;
}

}  // namespace

int ReadRecordStream(std::FILE* file, std::span<std::uint8_t> area, int& length,
                     FileMessages& out) {
  RecordLineReader lines(file, LONGEST_RECORD_STREAM_LINE, '3');
  std::size_t p = 0;
  bool dataRecords = false;
  for (;;) {
    const RecordLineReader::Line line = lines.Next();
    if (line == RecordLineReader::Line::End) break;
    if (line == RecordLineReader::Line::ReadError) {
      return Refuse("Error (file:%d) : file cannot be read\r\n", lines, out);
    }
    if (!lines.LooksLikeRecord()) {
      return RefuseNotSRecord(lines, out);
    }

    const char type = lines.recordType();
    switch (type) {
      case '0':  // header
      case '5':  // record count
        continue;
      case '1':
      case '9':
        return Refuse("Error (file:%d) : 2 byte address field S-record is not supported\r\n", lines,
                      out);
      case '2':
      case '3':
        dataRecords = true;
        break;
      case '7':
      case '8':
        break;
      default:
        return RefuseNotSRecord(lines, out);
    }

    // The record goes into the stream as the drive's monitor parses it: the
    // type digit, the count, then the count's worth of bytes (address, data
    // and the record's own checksum byte), none of them checked here.
    const char* text = lines.text();
    std::uint8_t count = 0;
    if (!DecodeHexPair(count, text + 2)) {
      return RefuseNotSRecord(lines, out);
    }
    const std::size_t recordBytes = 2 + static_cast<std::size_t>(count);
    if (!StreamFits(p + recordBytes + TERMINATOR_BYTES, area.size())) {
      return Refuse("Error (file:%d) : record does not fit in the flash image area\r\n", lines,
                    out);
    }
    area[p] = static_cast<std::uint8_t>(type);
    area[p + 1] = count;
    for (std::size_t i = 0; i < count; ++i) {
      if (!DecodeHexPair(area[p + 2 + i], text + 4 + 2 * i)) {
        return RefuseNotSRecord(lines, out);
      }
    }
    p += recordBytes;
  }

  // A stream of no data would leave the drive with no firmware at all: most
  // likely the wrong file was picked.
  if (!dataRecords) return RefuseFileWithoutFirmware(out);
  // Only an area too small for an empty stream gets here without room; every
  // record has been checked on its own line.
  if (!StreamFits(p + TERMINATOR_BYTES, area.size())) {
    return Refuse("Error (file:%d) : record does not fit in the flash image area\r\n", lines, out);
  }
  area[p] = 0xFF;
  area[p + 1] = 0xFF;
  length = static_cast<int>(p + TERMINATOR_BYTES);
  return 0;
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
  for (std::size_t p = 0; p + 1 < records.size();) {
    const std::size_t end = std::min(records.size(), p + 2 + records[p + 1]);
    text += 'S';
    text += static_cast<char>(records[p]);
    for (++p; p < end; ++p) {
      text += DIGITS[records[p] >> 4];
      text += DIGITS[records[p] & 0x0F];
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace kelvane
