#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/file_messages.h"
#include "image/firmware_data.h"

namespace kelvane {

// True when `file` begins with the ELF magic bytes 0x7F 'E' 'L' 'F': an ELF
// file, whatever its name, for the families that take S-records.
bool BeginsWithElfMagic(std::span<const std::uint8_t> file);

// True when `file` begins with a valid ELF header: the magic, a known class
// (32 or 64 bits), byte order and version, and a header size that fits both
// the class and the file. A binary image may begin with any bytes; this is
// how strict a check must be to refuse none of them.
bool HoldsElfHeader(std::span<const std::uint8_t> file);

// Reads the executable ELF file `file` (32 or 64 bits, either byte order)
// into `sink`: the file bytes of each loadable segment (PT_LOAD) at its
// physical address, in program header order, then the entry point as the
// start address. Bytes a segment takes in memory beyond its file bytes are
// not loaded. Segments that overlap each other or point outside the file
// refuse it. Refused after saying why in `out`; `format` names the
// class and byte order ("ELF32 little endian").
FileRead ReadElfFile(std::span<const std::uint8_t> file, DataSink& sink, FileMessages& out,
                     std::string& format);

}  // namespace kelvane
