#include "image/record_lines.h"

#include <cstring>

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

int RefuseFileWithoutFirmware(FileMessages& out) {
  out.Refuse("File holds no firmware records. Nothing to load.\r\n");
  return 1;
}

RecordLineReader::RecordLineReader(std::FILE* file, std::size_t longestLine, char widestRecord)
    : file_(file),
      longestLine_(longestLine),
      widestRecord_(widestRecord),
      buffer_(longestLine + 1, '\0') {}

RecordLineReader::Line RecordLineReader::Next() {
  for (;;) {
    // One read takes at most longestLine_ characters, up to and including the
    // line feed; what is left of a longer line comes with the next read.
    std::size_t count = 0;
    holdsNul_ = false;
    while (count < longestLine_ && !dosEnd_) {
      int c = std::getc(file_);
      if (c == EOF) break;
      if (c == DOS_END_OF_FILE) {
        dosEnd_ = true;
        break;
      }
      if (c == '\r') {
        // CR LF is one line end, as a text-mode read on the PC sees it, and so
        // is a carriage return that ends the file; any other carriage return
        // is a character of the line, which no record line holds.
        const int next = std::getc(file_);
        if (next == '\n' || next == EOF || next == DOS_END_OF_FILE) c = '\n';
        if (next != '\n' && next != EOF) std::ungetc(next, file_);
      }
      holdsNul_ = holdsNul_ || c == '\0';
      buffer_[count++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    buffer_[count] = '\0';

    // A failed read is not the end of the file: the image would be cut short
    // without anyone noticing.
    if (std::ferror(file_)) {
      ++lineNumber_;
      return Line::ReadError;
    }
    if (count == 0) return Line::End;

    ++lineNumber_;
    const bool ended = buffer_[count - 1] == '\n';
    continued_ = cut_;
    cut_ = !ended && count == longestLine_;
    if (!continued_) {
      wholeLineNumber_ = lineNumber_;
      wholeLineType_ = buffer_[0] == 'S' ? buffer_[1] : '\0';
      wholeLineLength_ = 0;
    }
    wholeLineLength_ += ended ? count - 1 : count;
    // A CR LF pair was read as a line feed: a carriage return left is one alone.
    holdsBareCr_ = std::memchr(buffer_.data(), '\r', count) != nullptr;
    // A line that starts with a NUL byte is no blank line but binary data.
    const char first = buffer_[0];
    if (!continued_ && !holdsNul_ && (first == '\n' || first == '\r')) continue;
    return Line::Record;
  }
}

void RecordLineReader::ExplainRefusal(FileMessages& out) {
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
  if (!cut_ && !continued_) return;
  std::size_t length = wholeLineLength_;
  if (cut_) {
    int c = 0;
    int last = 0;
    while ((c = std::getc(file_)) != EOF && c != '\n' && c != DOS_END_OF_FILE) {
      last = c;
      ++length;
    }
    if (c == '\n' && last == '\r') --length;  // a DOS line end is no part of the line
  }
  // Record lines have an even number of characters.
  const std::size_t longest = longestLine_ - 1;
  char head[96];
  std::snprintf(head, sizeof head, "Line %d is %zu characters long, longer than the %zu",
                wholeLineNumber_, length, longest);
  // An S1, S2 or S3 line holds 2, 3 or 4 address bytes beside the type, the
  // count and the checksum; what is left is the data objcopy is told of. Any
  // other line is measured against the widest data record the reader takes.
  const char type = wholeLineType_ >= '1' && wholeLineType_ <= '3' ? wholeLineType_ : widestRecord_;
  const std::size_t addressBytes = static_cast<std::size_t>(type - '0') + 1;
  out.Explain(
      "%s this drive family's S-record reader takes: write shorter records (for objcopy, "
      "--srec-len=%zu or less)\n",
      head, (longest - 6 - 2 * addressBytes) / 2);
}

}  // namespace kelvane
