#pragma once

#include <cstdint>

namespace kelvane::sim {

// Status bytes the simulated monitor answers with. 0 is success; the others
// are this monitor's own error codes (the loader only prints them).
inline constexpr std::uint8_t STATUS_OK = 0x00;
inline constexpr std::uint8_t STATUS_BAD_ADDRESS = 0x21;    // outside flash or write-protected
inline constexpr std::uint8_t STATUS_MISALIGNED = 0x22;     // write not on a block boundary
inline constexpr std::uint8_t STATUS_BAD_LENGTH = 0x23;     // payload of the wrong length
inline constexpr std::uint8_t STATUS_READ_TOO_LONG = 0x24;  // read length above 256
inline constexpr std::uint8_t STATUS_UNKNOWN_COMMAND = 0x25;

}  // namespace kelvane::sim
