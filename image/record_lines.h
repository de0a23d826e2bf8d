#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/file_messages.h"

namespace kelvane {

// The S0 line that opens the files the loader writes: a header of no text,
// which the readers skip and other S-record tools expect to find.
inline constexpr const char* EMPTY_HEADER_RECORD = "S0030000FC\r\n";

// Decodes two upper-case hex digits at `pair` into `byte`. A line feed or the
// terminating zero is not a digit, so a pair cut short by the end of the text
// read fails too.
bool DecodeHexPair(std::uint8_t& byte, const char* pair);

// Refuses a record file that holds no data record, after a line saying so to
// `out`: loading it would leave the drive with no firmware. Returns 1.
int RefuseFileWithoutFirmware(FileMessages& out);

// Reads an S-record file the way both S-record readers need it: lines of at
// most `longestLine` characters (the rest of a longer line comes as a line of
// its own), every piece numbered from 1, blank lines skipped. A carriage return
// before a line feed is dropped, and a DOS end-of-file byte (0x1A, Ctrl-Z)
// ends the file whatever follows it, so files written by DOS and Windows
// tools read the same on every platform.
class RecordLineReader {
 public:
  enum class Line { Record, End, ReadError };

  // `widestRecord` is the data record type with the widest address this
  // reader takes ('2' or '3'), for the advice on over-long lines.
  RecordLineReader(std::FILE* file, std::size_t longestLine, char widestRecord);

  // Moves to the next line that is not blank (first character line feed or
  // carriage return). Record: `text()` starts that line; End: no more lines;
  // ReadError: the file could not be read, `lineNumber()` is the line that was
  // being read. The rest of an over-long line is never blank: it is a piece
  // of a record line, so a line even one character too long is refused.
  Line Next();

  int lineNumber() const { return lineNumber_; }
  // The text read, zero-terminated, its line feed included if it was read.
  const char* text() const { return buffer_.data(); }
  // True when the text read is a record line as far as the line reader can
  // tell: it begins with the upper-case letter S and holds no NUL byte (no
  // text file does; a binary image does, often at its very start) and no
  // carriage return alone (records ended so would run into one line, and
  // all but the first would be lost).
  bool LooksLikeRecord() const { return buffer_[0] == 'S' && !holdsNul_ && !holdsBareCr_; }
  // The record type character (the second character).
  char recordType() const { return buffer_[1]; }

  // After the text read was refused as not an S-record, explains why in
  // one line where the reason is likely: a NUL byte (a binary image, and the
  // options that take one); records ended by a carriage return alone; a line
  // longer than this reader takes, with its number and length and how to
  // write shorter records. Reads the rest of that line to measure it, so
  // nothing is read after this.
  void ExplainRefusal(FileMessages& out);

 private:
  std::FILE* file_;
  std::size_t longestLine_;
  char widestRecord_;
  std::vector<char> buffer_;
  bool holdsNul_ = false;
  bool holdsBareCr_ = false;
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
