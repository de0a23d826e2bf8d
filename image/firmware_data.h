#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/file_messages.h"

namespace kelvane {

// Where in a firmware file something stands: a line of an S-record or Intel
// HEX file, a program header (segment) of an ELF file, or the ELF header.
struct Origin {
  enum class Kind { Line, Segment, ElfHeader };
  Kind kind = Kind::Line;
  int number = 0;
};

// "file:12", "file:segment 2" or "file:ELF header": what a message's
// "Error (...)" or "Warning (...)" names.
std::string OriginTag(Origin origin);
// "line 12" or "segment 2", for a sentence.
std::string OriginName(Origin origin);

// One address range of a file's data, from `first` up to (not including) `end`.
struct AddressRange {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
};

// What a firmware file is, for a dry run to show: its format ("S-records
// S0 S2 S8", "Intel HEX", "ELF32 little endian") and the addresses its data
// covers, contiguous ranges merged.
struct FileDescription {
  std::string format;
  std::vector<AddressRange> ranges;
};

// Takes the data a file places at its addresses, in file order: an S1/S2
// record of a word image, an Intel HEX data record, an ELF segment. The word
// image places it by address; the Nym stream packs it into records.
class DataSink {
 public:
  virtual ~DataSink() = default;
  // `bytes` for `address` on, from `origin`. False after saying in the file
  // messages why the file is refused there.
  virtual bool TakeData(std::uint64_t address, std::span<const std::uint8_t> bytes,
                        Origin origin) = 0;
  // The start address the file gives, from `origin`.
  virtual void TakeStart(std::uint64_t address, Origin origin) = 0;
};

// Every piece of data a file placed, kept to tell where two pieces give the
// same address different values and which ranges the data covers. Kept as
// pieces, never as a map of the address space: a Nym file may place data
// anywhere in 4 GiB.
class PlacedData {
 public:
  void Add(std::uint64_t address, std::span<const std::uint8_t> bytes, Origin origin);
  // A warning on the error stream for each piece that gives an address a
  // value other than the one an earlier piece left there, naming the first
  // such address, both values and both origins; the later piece is what the
  // drive gets. Pieces that agree stay silent.
  void WarnOverlaps(FileMessages& out) const;
  // The addresses the data covers, in order, touching pieces merged.
  std::vector<AddressRange> Ranges() const;

 private:
  struct Piece {
    std::uint64_t address;
    std::size_t offset;  // into bytes_
    std::size_t size;
    Origin origin;
  };
  std::vector<Piece> pieces_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace kelvane
