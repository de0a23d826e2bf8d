#pragma once

#include "flash/block_passes.h"

namespace kelvane {

// How each family's flash is laid out and loaded. The driver's family table
// hands one of these to the family's procedure.

// The Nym monitor takes its address and length fields most significant byte
// first and serves the sector written at address A back from A + 0x2000. It
// is the one drive that reports why a write failed. The record stream reader
// keeps the stream and its sectors inside the area itself.
extern const BlockFamily NYM_FAMILY;

// TL3xx flash: 128-byte sectors from address 0, fields least significant byte
// first, each sector read back where it was written. 65919 bytes make 515
// sectors, the last ending at byte 65920 of the 66000-byte area.
extern const BlockFamily TL3XX_FAMILY;

// 27 series flash: as the TL3xx but in 256-byte sectors. Its monitor shares
// the TL3xx wording, so a mismatch names the TL3xx drive. The last firmware
// sector must stay below the checksum sector (479, at 0x1DF00), which holds
// for images shorter than 0x1DF00 bytes.
extern const BlockFamily SERIES27_FAMILY;

// TK720 firmware lives from 0x4000 on in 256-byte blocks; its monitor takes a
// 32-bit read length.
extern const BlockFamily TK720_FAMILY;

// New TK720 firmware, stamped with its digest, lives from 0x8000 on. Its
// blocks are never read back: the monitor reports the digest instead.
extern const BlockFamily TK720_DIGEST_FAMILY;

}  // namespace kelvane
