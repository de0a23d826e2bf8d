#include "image/firmware_data.h"

#include <algorithm>
#include <tuple>

namespace kelvane {

namespace {

// Past this many overlaps one more line counts the rest: a file that
// overwrites itself throughout says so without drowning the run.
constexpr std::size_t MOST_OVERLAP_WARNINGS = 10;

}  // namespace

std::string OriginTag(Origin origin) {
  switch (origin.kind) {
    case Origin::Kind::Segment:
      return "file:segment " + std::to_string(origin.number);
    case Origin::Kind::ElfHeader:
      return "file:ELF header";
    case Origin::Kind::Line:
      break;
  }
  return "file:" + std::to_string(origin.number);
}

std::string OriginName(Origin origin) {
  switch (origin.kind) {
    case Origin::Kind::Segment:
      return "segment " + std::to_string(origin.number);
    case Origin::Kind::ElfHeader:
      return "the ELF header";
    case Origin::Kind::Line:
      break;
  }
  return "line " + std::to_string(origin.number);
}

void PlacedData::Add(std::uint64_t address, std::span<const std::uint8_t> bytes, Origin origin) {
  if (bytes.empty()) return;
  pieces_.push_back({address, bytes_.size(), bytes.size(), origin, pieces_.size()});
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void PlacedData::WarnOverlaps(FileMessages& out) const {
  std::vector<const Piece*> sorted;
  for (const Piece& piece : pieces_) sorted.push_back(&piece);
  std::ranges::sort(sorted, [](const Piece* a, const Piece* b) {
    return std::tie(a->address, a->order) < std::tie(b->address, b->order);
  });
  struct Overlap {
    const Piece* earlier;
    const Piece* later;
    std::uint64_t address;
  };
  std::vector<Overlap> found;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const Piece& a = *sorted[i];
    const std::uint64_t aEnd = a.address + a.size;
    for (std::size_t j = i + 1; j < sorted.size() && sorted[j]->address < aEnd; ++j) {
      const Piece& b = *sorted[j];
      const std::uint64_t end = std::min(aEnd, b.address + b.size);
      for (std::uint64_t at = b.address; at < end; ++at) {
        if (bytes_[a.offset + (at - a.address)] != bytes_[b.offset + (at - b.address)]) {
          found.push_back(a.order < b.order ? Overlap{&a, &b, at} : Overlap{&b, &a, at});
          break;
        }
      }
    }
  }
  // In file order of the piece that overwrites.
  std::ranges::sort(found, [](const Overlap& x, const Overlap& y) {
    return std::tie(x.later->order, x.address) < std::tie(y.later->order, y.address);
  });
  for (std::size_t k = 0; k < found.size() && k < MOST_OVERLAP_WARNINGS; ++k) {
    const Overlap& o = found[k];
    out.Notice(
        "Warning: %s gives address 0x%llX the byte %02X where %s gave it %02X; %s's byte is "
        "loaded\n",
        OriginName(o.later->origin).c_str(), static_cast<unsigned long long>(o.address),
        bytes_[o.later->offset + (o.address - o.later->address)],
        OriginName(o.earlier->origin).c_str(),
        bytes_[o.earlier->offset + (o.address - o.earlier->address)],
        OriginName(o.later->origin).c_str());
  }
  if (found.size() > MOST_OVERLAP_WARNINGS) {
    out.Notice("Warning: %zu more places where the file gives an address a second value\n",
               found.size() - MOST_OVERLAP_WARNINGS);
  }
}

std::vector<AddressRange> PlacedData::Ranges() const {
  std::vector<AddressRange> ranges;
  for (const Piece& piece : pieces_) ranges.push_back({piece.address, piece.address + piece.size});
  std::ranges::sort(ranges,
                    [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
  std::vector<AddressRange> merged;
  for (const AddressRange& range : ranges) {
    if (!merged.empty() && range.first <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, range.end);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

}  // namespace kelvane
