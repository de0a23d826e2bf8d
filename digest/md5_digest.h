#pragma once

#include <cstdint>
#include <span>

namespace kelvane {

// The RFC 1321 MD5 digest of `data`.
void Md5Digest(std::span<std::uint8_t, 16> digest, std::span<const std::uint8_t> data);

}  // namespace kelvane
