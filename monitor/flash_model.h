#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "monitor/family_layout.h"

namespace kelvane::sim {

// The longest read the monitor serves in one reply.
inline constexpr std::uint32_t MAX_READ_LENGTH = 256;

// One drive's flash: erased to 0xFF, programmed a block at a time. Addresses
// here are flash addresses, the ones reads use and the flash file holds.
class FlashModel {
 public:
  explicit FlashModel(const FamilyLayout& layout);

  const FamilyLayout& layout() const { return *layout_; }
  std::span<const std::uint8_t> contents() const { return cells_; }

  // Replaces the start of the flash with `bytes`; the rest stays erased.
  // False when `bytes` is longer than the flash.
  bool Load(std::span<const std::uint8_t> bytes);

  // A cell that will not program: it holds `value` whatever is written.
  // False when `address` lies outside the flash.
  bool AddStuckCell(std::uint32_t address, std::uint8_t value);

  // Programs one block written at `writeAddress` (the request's address);
  // returns the status byte. Nothing is stored unless it is STATUS_OK.
  std::uint8_t ProgramBlock(std::uint32_t writeAddress, std::span<const std::uint8_t> block);

  // The status byte of a read; on STATUS_OK `out` holds the bytes. A length
  // of 0 reads one whole block, as the monitor takes a missing length.
  std::uint8_t Read(std::uint32_t address, std::uint32_t length,
                    std::vector<std::uint8_t>& out) const;

 private:
  void ApplyStuckCells();

  const FamilyLayout* layout_;
  std::vector<std::uint8_t> cells_;
  std::map<std::uint32_t, std::uint8_t> stuck_;
};

}  // namespace kelvane::sim
