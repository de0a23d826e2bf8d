#include "monitor/flash_model.h"

#include <algorithm>

#include "monitor/drive_status.h"

namespace kelvane::sim {

FlashModel::FlashModel(const FamilyLayout& layout)
    : layout_(&layout), cells_(layout.flashSize, 0xFF) {}

bool FlashModel::Load(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > cells_.size()) return false;
  std::fill(cells_.begin(), cells_.end(), 0xFF);
  std::copy(bytes.begin(), bytes.end(), cells_.begin());
  ApplyStuckCells();
  return true;
}

bool FlashModel::AddStuckCell(std::uint32_t address, std::uint8_t value) {
  if (address >= cells_.size()) return false;
  stuck_[address] = value;
  ApplyStuckCells();
  return true;
}

std::uint8_t FlashModel::ProgramBlock(std::uint32_t writeAddress,
                                      std::span<const std::uint8_t> block) {
  if (block.size() != layout_->blockSize) return STATUS_BAD_LENGTH;
  if (writeAddress % layout_->blockSize != 0) return STATUS_MISALIGNED;
  // 64-bit sums: an address near 4 GiB must not wrap back into the flash.
  const std::uint64_t start = std::uint64_t{writeAddress} + layout_->writeOffset;
  if (writeAddress < layout_->firstWritable || start + block.size() > cells_.size()) {
    return STATUS_BAD_ADDRESS;
  }
  std::copy(block.begin(), block.end(), cells_.begin() + static_cast<std::ptrdiff_t>(start));
  ApplyStuckCells();
  return STATUS_OK;
}

std::uint8_t FlashModel::Read(std::uint32_t address, std::uint32_t length,
                              std::vector<std::uint8_t>& out) const {
  if (length == 0) length = layout_->blockSize;
  if (length > MAX_READ_LENGTH) return STATUS_READ_TOO_LONG;
  if (std::uint64_t{address} + length > cells_.size()) return STATUS_BAD_ADDRESS;
  const auto first = cells_.begin() + static_cast<std::ptrdiff_t>(address);
  out.assign(first, first + length);
  return STATUS_OK;
}

void FlashModel::ApplyStuckCells() {
  for (const auto& [address, value] : stuck_) cells_[address] = value;
}

}  // namespace kelvane::sim
