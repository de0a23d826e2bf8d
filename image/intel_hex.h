#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/file_messages.h"
#include "image/firmware_data.h"

namespace kelvane {

// True when the first line that is not blank starts with ':': an Intel HEX
// file, whatever its name, for the families that take S-records.
bool LooksLikeIntelHex(std::span<const std::uint8_t> file);

// True when `file` opens with one whole Intel HEX record: ':', hex digits
// as many as its length byte gives, its checksum right, then LF or CR LF.
// A binary image may begin with any bytes; this is how strict a check must
// be to refuse none of them.
bool BeginsWithIntelHexRecord(std::span<const std::uint8_t> file);

// Reads the Intel HEX file `file` into `sink`: each data record's bytes at
// its full address (the extended segment or linear address before it plus
// its offset), in file order, then the start address if the file gives one.
// Every line is checked: hex digits of either case, its length against its
// byte count, its checksum, its type (00 to 05), a data record's offset
// within 64 KiB, nothing after the end of file record, which must be there.
// Refused after saying why in `out`.
FileRead ReadIntelHex(std::span<const std::uint8_t> file, DataSink& sink, FileMessages& out);

}  // namespace kelvane
