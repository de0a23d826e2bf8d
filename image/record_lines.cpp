#include "image/record_lines.h"

namespace kelvane {

namespace {

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

RecordLineReader::RecordLineReader(std::FILE* file, std::size_t longestLine)
    : file_(file), longestLine_(longestLine), buffer_(longestLine + 1, '\0') {}

RecordLineReader::Line RecordLineReader::Next() {
  for (;;) {
    // One read takes at most longestLine_ characters, up to and including the
    // line feed; what is left of a longer line comes with the next read.
    std::size_t count = 0;
    while (count < longestLine_) {
      int c = std::getc(file_);
      if (c == EOF) break;
      if (c == '\r') {
        // CR LF is one line end, as a text-mode read on the PC sees it; a
        // carriage return on its own is an ordinary character of the line.
        const int next = std::getc(file_);
        if (next == '\n') {
          c = '\n';
        } else if (next != EOF) {
          std::ungetc(next, file_);
        }
      }
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
    const char first = buffer_[0];
    if (first == '\0' || first == '\n' || first == '\r') continue;
    return Line::Record;
  }
}

}  // namespace kelvane
