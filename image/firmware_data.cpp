#include "image/firmware_data.h"

#include <algorithm>
#include <map>

namespace kelvane {

namespace {

// Past this many overlaps one more line counts the rest: a file that
// overwrites itself throughout says so without drowning the run.
constexpr std::size_t MOST_OVERLAP_WARNINGS = 10;

}  // namespace

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

std::string OriginTag(Origin origin) {
  if (origin.kind == Origin::Kind::Line) return "file:" + std::to_string(origin.number);
  // "file:segment 3", and the ELF header without its article.
  const std::string name = OriginName(origin);
  return "file:" + (name.starts_with("the ") ? name.substr(4) : name);
}

void PlacedData::Add(std::uint64_t address, std::span<const std::uint8_t> bytes, Origin origin) {
  if (bytes.empty()) return;
  pieces_.push_back({address, bytes_.size(), bytes.size(), origin});
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void PlacedData::WarnOverlaps(FileMessages& out) const {
  // The flash as the pieces leave it, painted in file order: runs of bytes
  // from one piece each, keyed by their first address. Each piece is
  // compared with what it paints over, so a byte written back to the value
  // it had says nothing more.
  struct Run {
    std::uint64_t end;
    std::size_t offset;  // into bytes_, of the run's first byte
    const Piece* piece;
  };
  std::map<std::uint64_t, Run> runs;
  // A run boundary at `at`: the run across it split in two.
  const auto split = [&runs](std::uint64_t at) {
    auto it = runs.upper_bound(at);
    if (it == runs.begin()) return;
    --it;
    if (it->first < at && it->second.end > at) {
      runs[at] = {it->second.end, it->second.offset + (at - it->first), it->second.piece};
      it->second.end = at;
    }
  };
  std::size_t told = 0, untold = 0;
  for (const Piece& piece : pieces_) {
    const std::uint64_t end = piece.address + piece.size;
    split(piece.address);
    split(end);
    const auto first = runs.lower_bound(piece.address), last = runs.lower_bound(end);
    std::vector<const Piece*> named;  // each earlier piece told of once
    for (auto it = first; it != last; ++it) {
      const Piece* earlier = it->second.piece;
      if (std::ranges::find(named, earlier) != named.end()) continue;
      for (std::uint64_t at = it->first; at < it->second.end; ++at) {
        const std::uint8_t was = bytes_[it->second.offset + (at - it->first)];
        const std::uint8_t is = bytes_[piece.offset + (at - piece.address)];
        if (was == is) continue;
        named.push_back(earlier);
        if (told == MOST_OVERLAP_WARNINGS) {
          ++untold;
          break;
        }
        ++told;
        const std::string later = OriginName(piece.origin);
        out.Notice(
            "Warning: %s gives address 0x%llX the byte %02X where %s gave it %02X; %s's byte is "
            "loaded\n",
            later.c_str(), static_cast<unsigned long long>(at), is,
            OriginName(earlier->origin).c_str(), was, later.c_str());
        break;
      }
    }
    runs.erase(first, last);
    runs[piece.address] = {end, piece.offset, &piece};
  }
  if (untold > 0) {
    out.Notice("Warning: %zu more places where the file gives an address a second value\n", untold);
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
