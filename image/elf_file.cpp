#include "image/elf_file.h"

#include <algorithm>
#include <vector>

#include "image/record_lines.h"

namespace kelvane {

namespace {

constexpr std::size_t CLASS = 4, DATA = 5, IDENT_VERSION = 6;
constexpr std::uint8_t CLASS_32 = 1, CLASS_64 = 2, LITTLE_ENDIAN_DATA = 1, BIG_ENDIAN_DATA = 2;
constexpr std::uint16_t EXECUTABLE = 2;
constexpr std::uint32_t LOADABLE = 1;
// The drives take 32-bit addresses at most.
constexpr std::uint64_t ADDRESS_SPACE = std::uint64_t{1} << 32;

// The header's fields where the two classes differ: offsets and sizes.
struct Layout {
  std::size_t headerSize, entry, phoff, ehsize, phentsize, phnum;
  std::size_t programHeaderSize, pOffset, pPaddr, pFilesz, word;
};
constexpr Layout LAYOUT_32{52, 24, 28, 40, 42, 44, 32, 4, 12, 16, 4};
constexpr Layout LAYOUT_64{64, 24, 32, 52, 54, 56, 56, 8, 24, 32, 8};

class Fields {
 public:
  Fields(std::span<const std::uint8_t> file, bool bigEndian) : file_(file), big_(bigEndian) {}
  // The `size`-byte field at `at` in the file's byte order.
  std::uint64_t Get(std::size_t at, std::size_t size) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint8_t byte = file_[big_ ? at + i : at + size - 1 - i];
      value = (value << 8) | byte;
    }
    return value;
  }

 private:
  std::span<const std::uint8_t> file_;
  bool big_;
};

struct Segment {
  int index;
  std::uint64_t address, offset, size;
};

}  // namespace

bool BeginsWithElfMagic(std::span<const std::uint8_t> file) {
  return file.size() >= 4 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' && file[3] == 'F';
}

bool HoldsElfHeader(std::span<const std::uint8_t> file) {
  if (!BeginsWithElfMagic(file) || file.size() < 16) return false;
  if (file[CLASS] != CLASS_32 && file[CLASS] != CLASS_64) return false;
  if (file[DATA] != LITTLE_ENDIAN_DATA && file[DATA] != BIG_ENDIAN_DATA) return false;
  if (file[IDENT_VERSION] != 1) return false;
  const Layout& layout = file[CLASS] == CLASS_32 ? LAYOUT_32 : LAYOUT_64;
  if (file.size() < layout.headerSize) return false;
  const Fields fields(file, file[DATA] == BIG_ENDIAN_DATA);
  return fields.Get(20, 4) == 1 && fields.Get(layout.ehsize, 2) == layout.headerSize;
}

FileRead ReadElfFile(std::span<const std::uint8_t> file, DataSink& sink, FileMessages& out,
                     std::string& format) {
  const auto refuse = [&out](const char* text) {
    out.Refuse("Error (file:ELF header) : %s\r\n", text);
    return FileRead::Refused;
  };
  if (!HoldsElfHeader(file)) return refuse("not a valid ELF header");
  const bool is32 = file[CLASS] == CLASS_32, big = file[DATA] == BIG_ENDIAN_DATA;
  format = std::string(is32 ? "ELF32" : "ELF64") + (big ? " big endian" : " little endian");
  const Layout& layout = is32 ? LAYOUT_32 : LAYOUT_64;
  const Fields fields(file, big);
  if (fields.Get(16, 2) != EXECUTABLE) return refuse("not an executable ELF file");
  const std::uint64_t entry = fields.Get(layout.entry, layout.word);
  const std::uint64_t phoff = fields.Get(layout.phoff, layout.word);
  const std::uint64_t phentsize = fields.Get(layout.phentsize, 2);
  const std::uint64_t phnum = fields.Get(layout.phnum, 2);
  if (phnum > 0 && (phentsize < layout.programHeaderSize || phoff > file.size() ||
                    (file.size() - phoff) / phentsize < phnum)) {
    return refuse("program headers lie outside the file");
  }
  std::vector<Segment> segments;
  for (std::uint64_t i = 0; i < phnum; ++i) {
    const std::size_t at = static_cast<std::size_t>(phoff + i * phentsize);
    if (fields.Get(at, 4) != LOADABLE) continue;
    const Segment segment{static_cast<int>(i), fields.Get(at + layout.pPaddr, layout.word),
                          fields.Get(at + layout.pOffset, layout.word),
                          fields.Get(at + layout.pFilesz, layout.word)};
    if (segment.size == 0) continue;
    const Origin origin{Origin::Kind::Segment, segment.index};
    if (segment.offset > file.size() || file.size() - segment.offset < segment.size) {
      out.Refuse("Error (%s) : segment runs past the end of the file\r\n",
                 OriginTag(origin).c_str());
      return FileRead::Refused;
    }
    if (segment.address >= ADDRESS_SPACE || ADDRESS_SPACE - segment.address < segment.size) {
      out.Refuse("Error (%s) : segment lies beyond the 32-bit address space\r\n",
                 OriginTag(origin).c_str());
      return FileRead::Refused;
    }
    segments.push_back(segment);
  }
  // Two segments for the same flash are a broken link, not a later-wins
  // overwrite as in a record file.
  std::vector<Segment> sorted = segments;
  std::ranges::sort(sorted,
                    [](const Segment& a, const Segment& b) { return a.address < b.address; });
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    const Segment &a = sorted[i - 1], &b = sorted[i];
    if (b.address < a.address + a.size) {
      const Segment& later = a.index > b.index ? a : b;
      const Segment& earlier = a.index > b.index ? b : a;
      out.Refuse("Error (file:segment %d) : segment overlaps segment %d at address 0x%llX\r\n",
                 later.index, earlier.index, static_cast<unsigned long long>(b.address));
      return FileRead::Refused;
    }
  }
  if (segments.empty()) return RefuseFileWithoutFirmware(out);
  if (entry >= ADDRESS_SPACE) return refuse("entry point lies beyond the 32-bit address space");
  for (const Segment& segment : segments) {
    const auto bytes = file.subspan(static_cast<std::size_t>(segment.offset),
                                    static_cast<std::size_t>(segment.size));
    if (!sink.TakeData(segment.address, bytes, {Origin::Kind::Segment, segment.index}))
      return FileRead::Refused;
  }
  sink.TakeStart(entry, {Origin::Kind::ElfHeader, 0});
  return FileRead::Taken;
}

}  // namespace kelvane
