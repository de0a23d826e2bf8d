#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kelvane {

using Sha256 = std::array<std::uint8_t, 32>;

// SHA-256 (FIPS 180-4) of `bytes`: a journal records which file went into a
// drive by it.
Sha256 Sha256Of(std::span<const std::uint8_t> bytes);

}  // namespace kelvane
