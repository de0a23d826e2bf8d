#include "image/record_lines.h"

#include <cstring>
#include <string>

namespace kelvane {

namespace {

// Where DOS and Windows tools end a text file; the PC's text-mode read stops
// there, and so does this one.
constexpr int DOS_END_OF_FILE = 0x1A;

// The value of one hex digit, or -1. Only upper case counts: the drive
// tools that write these files never use lower case, and a lower-case digit
// is taken as a sign that the file is something else.
int HexDigitValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

}  // namespace

bool DecodeHexPair(std::uint8_t& byte, const char* pair) {
  // The second character is looked at only when the first is a digit, so a
  // pair that starts on the terminating zero never reads past it.
  const int high = HexDigitValue(pair[0]);
  if (high < 0) return false;
  const int low = HexDigitValue(pair[1]);
  if (low < 0) return false;
  byte = static_cast<std::uint8_t>(high * 16 + low);
  return true;
}

std::uint8_t RecordChecksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t byte : bytes) sum += byte;
  return static_cast<std::uint8_t>(~sum & 0xFF);
}

FileRead RefuseFileWithoutFirmware(FileMessages& out) {
  out.Refuse("File holds no firmware records. Nothing to load.\r\n");
  return FileRead::Refused;
}

RecordLineReader::RecordLineReader(std::span<const std::uint8_t> file, std::size_t longestLine,
                                   char widestRecord)
    : file_(file),
      longestLine_(longestLine),
      widestRecord_(widestRecord),
      buffer_(longestLine + 1, '\0') {}

RecordLineReader::Line RecordLineReader::Next() {
  const auto peek = [this]() { return at_ < file_.size() ? int{file_[at_]} : EOF; };
  for (;;) {
    // One read takes at most longestLine_ characters, up to and including the
    // line feed.
    std::size_t count = 0;
    holdsNul_ = false;
    while (count < longestLine_ && !dosEnd_ && at_ < file_.size()) {
      int c = file_[at_++];
      if (c == DOS_END_OF_FILE) {
        dosEnd_ = true;
        break;
      }
      if (c == '\r') {
        // CR LF is one line end, as a text-mode read on the PC sees it, and so
        // is a carriage return that ends the file; any other carriage return
        // is a character of the line, which no record line holds.
        const int next = peek();
        if (next == '\n' || next == EOF || next == DOS_END_OF_FILE) c = '\n';
        if (next == '\n') ++at_;
      }
      holdsNul_ = holdsNul_ || c == '\0';
      buffer_[count++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    buffer_[count] = '\0';
    if (count == 0) return Line::End;

    ++lineNumber_;
    const bool ended = buffer_[count - 1] == '\n';
    cut_ = !ended && count == longestLine_;
    lineLength_ = ended ? count - 1 : count;
    if (cut_) {
      // The rest of a line too long is read with it, measured for the
      // advice, and never taken for a line of its own.
      int c = EOF, last = EOF;
      while ((c = peek()) != EOF && c != DOS_END_OF_FILE) {
        ++at_;
        if (c == '\n') break;
        last = c;
        ++lineLength_;
      }
      if (c == DOS_END_OF_FILE) dosEnd_ = true;
      if (c == '\n' && last == '\r') --lineLength_;  // a DOS line end is no part of the line
    }
    // A CR LF pair was read as a line feed: a carriage return left is one alone.
    holdsBareCr_ = std::memchr(buffer_.data(), '\r', count) != nullptr;
    // A line that starts with a NUL byte is no blank line but binary data.
    const char first = buffer_[0];
    if (!holdsNul_ && (first == '\n' || first == '\r')) continue;
    if (cut_ && first == 'S' && buffer_[1] == '0') continue;
    return Line::Record;
  }
}

void RecordLineReader::ExplainRefusal(FileMessages& out) const {
  if (holdsNul_) {
    out.Explain(
        "Line %d holds a NUL byte, which no S-record file does: this looks like a binary "
        "image, which only the TK720 options /m and /s take\n",
        lineNumber_);
    return;
  }
  if (holdsBareCr_) {
    // Old Macintosh tools end lines with a carriage return alone, which no
    // PC text-mode read takes for a line end: the records run into one line.
    out.Explain(
        "Line %d holds records ended by a carriage return alone: end them with a line "
        "feed\n",
        lineNumber_);
    return;
  }
  if (!cut_) return;
  // Record lines have an even number of characters.
  const std::size_t longest = longestLine_ - 1;
  char head[96];
  std::snprintf(head, sizeof head, "Line %d is %zu characters long, longer than the %zu",
                lineNumber_, lineLength_, longest);
  // An S1, S2 or S3 line holds 2, 3 or 4 address bytes beside the type, the
  // count and the checksum; what is left is the data objcopy is told of. Any
  // other line is measured against the widest data record the reader takes.
  const char lineType = buffer_[1];
  const char type = lineType >= '1' && lineType <= '3' ? lineType : widestRecord_;
  const std::size_t addressBytes = static_cast<std::size_t>(type - '0') + 1;
  out.Explain(
      "%s this drive family's S-record reader takes: write shorter records (for objcopy, "
      "--srec-len=%zu or less)\n",
      head, (longest - 6 - 2 * addressBytes) / 2);
}

namespace {

// The bytes of the address field of each record type: S0, S1, S5 and S9
// two, S2, S6 and S8 three, S3 and S7 four.
int AddressBytesOf(char type) {
  switch (type) {
    case '2':
    case '6':
    case '8':
      return 3;
    case '3':
    case '7':
      return 4;
    default:
      return 2;
  }
}

bool OneOf(char type, const char* types) {
  return type != '\0' && std::strchr(types, type) != nullptr;
}

// Reads one file's records for ReadSRecords, refusing at the first line
// that breaks a rule.
class SRecordFileReader {
 public:
  SRecordFileReader(std::span<const std::uint8_t> file, const SRecordRules& rules,
                    SRecordTaker& taker, FileMessages& out)
      : lines_(file, rules.longestLine, rules.widestRecord),
        rules_(rules),
        taker_(taker),
        out_(out) {}

  FileRead Read(std::string& format);

 private:
  // Handles one line; false after saying why the file is refused.
  bool TakeLine();
  // Decodes and checks the record on the line; false after refusing it.
  bool Decode(SRecord& record);
  bool Refuse(const char* format) {
    out_.Refuse(format, lines_.lineNumber());
    return false;
  }
  bool RefuseNotSRecord() {
    Refuse("Error (file:%d) : not an S-record found\r\n");
    lines_.ExplainRefusal(out_);
    return false;
  }

  RecordLineReader lines_;
  const SRecordRules& rules_;
  SRecordTaker& taker_;
  FileMessages& out_;
  bool seen_[10] = {};
  int dataRecords_ = 0;
  int endLine_ = 0;
  bool toldDataAfterEnd_ = false;
  long lastCount_ = -1;
};

FileRead SRecordFileReader::Read(std::string& format) {
  while (lines_.Next() == RecordLineReader::Line::Record) {
    if (!TakeLine()) return FileRead::Refused;
  }
  format = "S-records";
  for (int type = 0; type < 10; ++type) {
    if (seen_[type]) format += " S" + std::to_string(type);
  }
  // A record file of no data would leave the drive with no firmware at all:
  // most likely the wrong file was picked.
  if (dataRecords_ == 0) return RefuseFileWithoutFirmware(out_);
  // Files without an end record are common and load, but the usual way a
  // file is cut short (a copy broken off between two lines) leaves one
  // exactly so; a count record that matches says the data is whole.
  if (endLine_ == 0 && lastCount_ != dataRecords_) {
    out_.Notice(
        "Warning: the file has no end record (S%c or S%c) and no count record (S5) matching "
        "its %d data records: it may have been cut short\n",
        rules_.endTypes[0], rules_.endTypes[1], dataRecords_);
  }
  return FileRead::Taken;
}

bool SRecordFileReader::TakeLine() {
  if (!lines_.LooksLikeRecord()) return RefuseNotSRecord();
  const char type = lines_.recordType();
  if (OneOf(type, rules_.refusedTypes)) return Refuse(rules_.refusedMessage);
  const bool data = OneOf(type, rules_.dataTypes);
  const bool end = OneOf(type, rules_.endTypes);
  if (!data && !end && type != '0' && type != '5') return RefuseNotSRecord();
  SRecord record;
  if (!Decode(record)) return false;
  seen_[type - '0'] = true;
  if (type == '5') {
    lastCount_ = record.address;
    return true;
  }
  if (type == '0') return true;
  if (data) {
    ++dataRecords_;
    if (endLine_ != 0 && !toldDataAfterEnd_) {
      // Two files joined load as one; the drive gets the data of both.
      out_.Notice(
          "Warning: line %d holds a data record after the end record on line %d: two files "
          "joined?\n",
          lines_.lineNumber(), endLine_);
      toldDataAfterEnd_ = true;
    }
  } else {
    endLine_ = lines_.lineNumber();
  }
  return taker_.TakeRecord(record, lines_.lineNumber());
}

bool SRecordFileReader::Decode(SRecord& record) {
  if (lines_.cut()) return RefuseNotSRecord();
  const char* text = lines_.text();
  record.type = lines_.recordType();
  record.addressBytes = AddressBytesOf(record.type);
  if (!DecodeHexPair(record.count, text + 2)) return RefuseNotSRecord();
  for (std::size_t i = 0; i < record.count; ++i) {
    const char* pair = text + 4 + 2 * i;
    if (DecodeHexPair(record.body[i], pair)) continue;
    RefuseNotSRecord();
    // The line ends before the pairs its count promises: a file broken off
    // in the middle of a line, the usual way a copy is cut short.
    const bool ended = pair[0] == '\n' || pair[0] == '\0' || pair[1] == '\n' || pair[1] == '\0';
    if (ended) {
      out_.Explain(
          "Line %d ends after %zu of the %d bytes its count gives: the file was cut short or "
          "damaged\n",
          lines_.lineNumber(), i, int{record.count});
    }
    return false;
  }
  if (record.count < record.addressBytes + 1) {
    out_.Refuse("Error (file:%d) : record count %02X is too small for its address and checksum\r\n",
                lines_.lineNumber(), unsigned{record.count});
    return false;
  }
  std::uint8_t sum = record.count;
  for (const std::uint8_t byte : record.bytes().first(record.count - 1u)) sum += byte;
  const auto expected = static_cast<std::uint8_t>(~sum);
  const std::uint8_t given = record.body[record.count - 1u];
  if (given != expected) {
    out_.Refuse("Error (file:%d) : record checksum is %02X where its bytes give %02X\r\n",
                lines_.lineNumber(), unsigned{given}, unsigned{expected});
    out_.Explain(
        "Line %d does not hold the bytes its checksum was made for: the file was damaged or "
        "changed by hand, or it is the backup of a drive that holds such a record\n",
        lines_.lineNumber());
    return false;
  }
  for (int i = 0; i < record.addressBytes; ++i)
    record.address = (record.address << 8) | record.body[i];
  return true;
}

}  // namespace

FileRead ReadSRecords(std::span<const std::uint8_t> file, const SRecordRules& rules,
                      SRecordTaker& taker, FileMessages& out, std::string& format) {
  SRecordFileReader reader(file, rules, taker, out);
  return reader.Read(format);
}

}  // namespace kelvane
