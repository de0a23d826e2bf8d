#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace kelvane {

// The S0 line that opens the files the loader writes: a header of no text,
// which the readers skip and other S-record tools expect to find.
inline constexpr const char* EMPTY_HEADER_RECORD = "S0030000FC\r\n";

// Decodes two upper-case hex digits at `pair` into `byte`. A line feed or the
// terminating zero is not a digit, so a pair cut short by the end of the text
// read fails too.
bool DecodeHexPair(std::uint8_t& byte, const char* pair);

// Reads an S-record file the way both S-record readers need it: lines of at
// most `longestLine` characters (the rest of a longer line comes as a line of
// its own), every piece numbered from 1, blank lines skipped. A carriage return
// before a line feed is dropped, and a DOS end-of-file byte (0x1A, Ctrl-Z)
// ends the file whatever follows it, so files written by DOS and Windows
// tools read the same on every platform.
class RecordLineReader {
 public:
  enum class Line { Record, End, ReadError };

  RecordLineReader(std::FILE* file, std::size_t longestLine);

  // Moves to the next line that is not blank (first character NUL, line feed
  // or carriage return). Record: `text()` starts that line; End: no more lines;
  // ReadError: the file could not be read, `lineNumber()` is the line that was
  // being read.
  Line Next();

  int lineNumber() const { return lineNumber_; }
  // The text read, zero-terminated, its line feed included if it was read.
  const char* text() const { return buffer_.data(); }
  // True when the line begins with the upper-case letter S.
  bool BeginsWithS() const { return buffer_[0] == 'S'; }
  // The record type character (the second character).
  char recordType() const { return buffer_[1]; }

  // After the text read was refused as not an S-record: when it is part of a
  // line longer than this reader takes, says so on `err` in one line, with
  // the line's number and length and how to write shorter records. Reads the
  // rest of that line to measure it, so nothing is read after this.
  void ExplainOverLongLine(std::FILE* err);

 private:
  std::FILE* file_;
  std::size_t longestLine_;
  std::vector<char> buffer_;
  int lineNumber_ = 0;
  bool dosEnd_ = false;
  // The text read stopped at longestLine_ with its line not ended; or it is
  // the rest of such a line.
  bool cut_ = false;
  bool continued_ = false;
  // The number, record type and length so far (line end not counted) of the
  // line that the text read is part of.
  int wholeLineNumber_ = 0;
  char wholeLineType_ = 0;
  std::size_t wholeLineLength_ = 0;
};

}  // namespace kelvane
