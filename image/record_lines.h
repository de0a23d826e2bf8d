#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/file_messages.h"
#include "image/firmware_data.h"

namespace kelvane {

// The S0 line that opens the files the loader writes: a header of no text,
// which the readers skip and other S-record tools expect to find.
inline constexpr const char* EMPTY_HEADER_RECORD = "S0030000FC\r\n";

// Decodes two upper-case hex digits at `pair` into `byte`. A line feed or the
// terminating zero is not a digit, so a pair cut short by the end of the text
// read fails too.
bool DecodeHexPair(std::uint8_t& byte, const char* pair);

// Refuses a record file that holds no data record, after a line saying so to
// `out`: loading it would leave the drive with no firmware. Returns Refused.
FileRead RefuseFileWithoutFirmware(FileMessages& out);

// The checksum byte an S-record or Intel HEX line must end with for `bytes`
// (everything between the type and the checksum): the ones' complement of
// the low byte of their sum.
std::uint8_t RecordChecksum(std::span<const std::uint8_t> bytes);

// Reads an S-record file the way both S-record readers need it: lines of at
// most `longestLine` characters, numbered from 1, blank lines skipped. A
// carriage return before a line feed is dropped, and a DOS end-of-file byte
// (0x1A, Ctrl-Z) ends the file whatever follows it, so files written by DOS
// and Windows tools read the same on every platform. A line longer than the
// reader takes is read whole and marked cut, and an S0 header that long is
// skipped: its text is never used, and some tools write a whole source path
// into it.
class RecordLineReader {
 public:
  enum class Line { Record, End };

  // `widestRecord` is the data record type with the widest address this
  // reader takes ('2' or '3'), for the advice on over-long lines.
  RecordLineReader(std::span<const std::uint8_t> file, std::size_t longestLine, char widestRecord);

  // Moves to the next line that is not blank (first character line feed or
  // carriage return). Record: `text()` starts that line; End: no more lines.
  Line Next();

  int lineNumber() const { return lineNumber_; }
  // The text read, at most `longestLine` characters, zero-terminated, its
  // line feed included if it was read.
  const char* text() const { return buffer_.data(); }
  // The line was longer than this reader takes: `text()` is its start.
  bool cut() const { return cut_; }
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
  // write shorter records.
  void ExplainRefusal(FileMessages& out) const;

 private:
  std::span<const std::uint8_t> file_;
  std::size_t at_ = 0;
  std::size_t longestLine_;
  char widestRecord_;
  std::vector<char> buffer_;
  bool holdsNul_ = false;
  bool holdsBareCr_ = false;
  int lineNumber_ = 0;
  bool dosEnd_ = false;
  bool cut_ = false;
  // The length of the whole line read, its line end not counted.
  std::size_t lineLength_ = 0;
};

// One S-record line, decoded and checked: its type, the count byte and the
// count's worth of bytes after it (address, data, checksum).
struct SRecord {
  char type = 0;
  std::uint8_t count = 0;
  std::array<std::uint8_t, 255> body{};
  int addressBytes = 0;
  std::uint32_t address = 0;

  std::span<const std::uint8_t> bytes() const { return std::span(body).first(count); }
  std::span<const std::uint8_t> data() const {
    return bytes().subspan(static_cast<std::size_t>(addressBytes),
                           count - static_cast<std::size_t>(addressBytes) - 1);
  }
};

// What a family's S-record reader takes: which types hold data, which end
// the file with a start address, and which it refuses with which message.
struct SRecordRules {
  std::size_t longestLine;
  char widestRecord;         // '2' or '3', for the advice on over-long lines
  const char* dataTypes;     // "12" or "23"
  const char* endTypes;      // "89" or "78"
  const char* refusedTypes;  // "37" or "19"
  const char* refusedMessage;
};

// Receives each data and end record of an S-record file, in file order.
class SRecordTaker {
 public:
  virtual ~SRecordTaker() = default;
  // False after saying in the file messages why the file is refused there.
  virtual bool TakeRecord(const SRecord& record, int lineNumber) = 0;
};

// Reads the S-record file `file` by `rules`, every record line checked:
// its pairs all hex, its count at least its address and checksum, its
// checksum byte right. Header and count records are checked so too and
// otherwise skipped. Says on the error stream when the file has no end
// record and no count record matching its data records (it may have been
// cut short), and when data records follow an end record (two files
// joined). Refused after saying why in `out`; `format` names the
// record types seen.
FileRead ReadSRecords(std::span<const std::uint8_t> file, const SRecordRules& rules,
                      SRecordTaker& taker, FileMessages& out, std::string& format);

}  // namespace kelvane
