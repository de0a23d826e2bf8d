#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kelvane::sim {

enum class SimFamily { Nym, TL3xx, TK720, Series27, TK720Digest };

// How one drive family's monitor lays out its flash and reads its requests.
struct FamilyLayout {
  SimFamily family;
  const char* name;  // as given to --family
  std::uint32_t blockSize;
  std::uint32_t flashSize;
  // Nym monitors take addresses and read lengths most significant byte first.
  bool bigEndian;
  // Bytes of the read length field in a read request: 2, or 4 on the TK720s.
  std::uint32_t readLengthBytes;
  // Where a written block lands relative to its write address. The Nym
  // monitor maps its write window 0x2000 below the flash it reads from.
  std::uint32_t writeOffset;
  // Flash below this address holds the monitor itself and refuses writes.
  std::uint32_t firstWritable;
};

const FamilyLayout& LayoutOf(SimFamily family);
std::optional<SimFamily> ParseFamilyName(std::string_view name);

// Write payload: address then one block; read payload: address then length.
inline std::uint32_t WritePayloadLength(const FamilyLayout& layout) {
  return 4 + layout.blockSize;
}
inline std::uint32_t ReadPayloadLength(const FamilyLayout& layout) {
  return 4 + layout.readLengthBytes;
}

// Digest drives keep their firmware image from here on.
inline constexpr std::uint32_t DIGEST_IMAGE_ADDRESS = 0x8000;

}  // namespace kelvane::sim
