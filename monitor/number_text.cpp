#include "monitor/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kelvane::sim {

namespace {

// Decimal, or hex after 0x; a leading zero does not mean octal here.
int BaseOf(std::string_view digits) {
  return digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') ? 16 : 10;
}

bool LooksNumeric(std::string_view text) {
  // strtoull would also take leading blanks and a sign; the command line may not.
  if (text.empty()) return false;
  const char first = text.front();
  return (first >= '0' && first <= '9') || first == '-';
}

}  // namespace

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max) {
  if (!LooksNumeric(text) || text.front() == '-') return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(copy.c_str(), &end, BaseOf(text));
  if (errno != 0 || end != copy.c_str() + copy.size() || value > max) return std::nullopt;
  return value;
}

std::optional<std::int64_t> ParseSigned(std::string_view text, std::int64_t min, std::int64_t max) {
  if (!LooksNumeric(text)) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const long long value =
      std::strtoll(copy.c_str(), &end, BaseOf(text.substr(text.front() == '-' ? 1 : 0)));
  if (errno != 0 || end != copy.c_str() + copy.size() || value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<float> ParseFloat(std::string_view text) {
  if (!LooksNumeric(text)) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(copy.c_str(), &end);
  if (errno != 0 || end != copy.c_str() + copy.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<NumberPair> ParsePair(std::string_view text, std::uint64_t firstMax,
                                    std::uint64_t secondMax) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto first = ParseUnsigned(text.substr(0, colon), firstMax);
  const auto second = ParseUnsigned(text.substr(colon + 1), secondMax);
  if (!first || !second) return std::nullopt;
  return NumberPair{*first, *second};
}

}  // namespace kelvane::sim
