#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kelvane::sim {

// Whole-text number parsing for the command line: decimal, or hex after 0x.
// Nothing is accepted past the number, and values outside the range fail.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max);
std::optional<std::int64_t> ParseSigned(std::string_view text, std::int64_t min, std::int64_t max);
std::optional<float> ParseFloat(std::string_view text);

// "N:M" with both sides unsigned and in range.
struct NumberPair {
  std::uint64_t first;
  std::uint64_t second;
};
std::optional<NumberPair> ParsePair(std::string_view text, std::uint64_t firstMax,
                                    std::uint64_t secondMax);

}  // namespace kelvane::sim
