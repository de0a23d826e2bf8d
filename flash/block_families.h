#pragma once

#include "flash/block_passes.h"

namespace kelvane {

// The Nym monitor takes its address and length fields most significant byte
// first and serves the sector written at address A back from A + 0x2000. It
// is the one drive that reports why a write failed.
inline constexpr BlockFamily NYM_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::MostSignificantFirst,
    .writeBase = 0,
    .readBackOffset = 0x2000,
    .readLengthFieldBytes = 2,
    .unit = "sector",
    .unitTitle = "Sector",
    .writeFailureShowsCode = true,
    .driveName = "Nym7700",
};

// TL3xx flash: 128-byte sectors from address 0, fields least significant byte
// first, each sector read back where it was written.
inline constexpr BlockFamily TL3XX_FAMILY{
    .blockSize = 128,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0,
    .readBackOffset = 0,
    .readLengthFieldBytes = 2,
    .unit = "sector",
    .unitTitle = "Sector",
    .writeFailureShowsCode = false,
    .driveName = "TL3xx",
};

// 27 series flash: as the TL3xx but in 256-byte sectors. Its monitor shares
// the TL3xx wording, so a mismatch names the TL3xx drive.
inline constexpr BlockFamily SERIES27_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0,
    .readBackOffset = 0,
    .readLengthFieldBytes = 2,
    .unit = "sector",
    .unitTitle = "Sector",
    .writeFailureShowsCode = false,
    .driveName = "TL3xx",
};

// TK720 firmware lives from 0x4000 on in 256-byte blocks; its monitor takes a
// 32-bit read length.
inline constexpr BlockFamily TK720_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0x4000,
    .readBackOffset = 0,
    .readLengthFieldBytes = 4,
    .unit = "block",
    .unitTitle = "Block",
    .writeFailureShowsCode = false,
    .driveName = "TK720",
};

// New TK720 firmware, stamped with its digest, lives from 0x8000 on. Its
// blocks are never read back: the monitor reports the digest instead.
inline constexpr BlockFamily TK720_DIGEST_FAMILY{
    .blockSize = 256,
    .order = ByteOrder::LeastSignificantFirst,
    .writeBase = 0x8000,
    .readBackOffset = 0,
    .readLengthFieldBytes = 4,
    .unit = "block",
    .unitTitle = "Block",
    .writeFailureShowsCode = false,
    .driveName = "TK720",
};

}  // namespace kelvane
