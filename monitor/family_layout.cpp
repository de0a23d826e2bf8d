#include "monitor/family_layout.h"

#include <array>

namespace kelvane::sim {

namespace {

constexpr std::array<FamilyLayout, 5> LAYOUTS = {{
    {SimFamily::Nym, "nym", 256, 0x40800, true, 2, 0x2000, 0},
    {SimFamily::TL3xx, "tl3xx", 128, 0x10200, false, 2, 0, 0},
    {SimFamily::TK720, "tk720", 256, 0x200000, false, 4, 0, 0x4000},
    {SimFamily::Series27, "27", 256, 0x20000, false, 2, 0, 0},
    {SimFamily::TK720Digest, "tk720-digest", 256, 0x200000, false, 4, 0, DIGEST_IMAGE_ADDRESS},
}};

}  // namespace

const FamilyLayout& LayoutOf(SimFamily family) {
  return LAYOUTS[static_cast<std::size_t>(family)];
}

std::optional<SimFamily> ParseFamilyName(std::string_view name) {
  for (const FamilyLayout& layout : LAYOUTS) {
    if (name == layout.name) return layout.family;
  }
  return std::nullopt;
}

}  // namespace kelvane::sim
