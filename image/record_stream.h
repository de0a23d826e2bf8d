#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/file_messages.h"
#include "image/firmware_data.h"

namespace kelvane {

inline constexpr std::size_t NYM_IMAGE_AREA = 256000;

// Copies the S2/S3/S7/S8 records of the S-record file `file`, decoded and
// checked, one after the other into `area` and closes the stream with 0xFF
// 0xFF. An Intel HEX or ELF file gives the stream its S-record equivalent
// would: each data record or segment cut from its first byte into records
// of at most 32 data bytes, S2 where the last byte's address is below
// 0x1000000 and S3 above, then an S8 (or S7 above 0x1000000) with the start
// address, 0 when none is given. Taken with the stream length stored in
// `length`, or Refused after saying the cause in `out` (and explaining why a line
// too long was refused). A stream whose sectors would not fit in `area` is
// refused at the record that overflows. `description`, when given, is told
// what the file is and where its data lies.
FileRead ReadRecordStream(std::span<const std::uint8_t> file, std::span<std::uint8_t> area,
                          int& length, FileMessages& out, FileDescription* description = nullptr);

// How far a record stream read back from the drive has been found to run.
enum class StreamScan {
  Ended,       // the end marker found: `position` is the stream's length, marker included
  Unfinished,  // the bytes end inside the stream: scan again from `position` with more
  Invalid,     // not a stream this reader could have packed (`position` where it breaks)
};

// Walks the packed records of `stream` from `position` on, as the drive's
// monitor does: a type byte (S2, S3, S7 or S8), a count, then that many
// bytes; 0xFF 0xFF ends the stream. A record longer than one S-record line of
// this reader can hold is invalid, as no file could have put it there.
StreamScan ScanRecordStream(std::span<const std::uint8_t> stream, std::size_t& position);

// An empty S0 header, then one S-record line per packed record of `records`
// (the stream without its end marker), each of its own type with its own
// checksum byte, CR LF ended, and an S5 count of the data records when the
// stream holds no end record: the file that ReadRecordStream packs into
// exactly these bytes.
std::string FormatRecordStream(std::span<const std::uint8_t> records);

}  // namespace kelvane
