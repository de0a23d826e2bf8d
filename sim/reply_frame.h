#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvane::sim {

// AA 55 len-lo len-hi command status header-sum payload payload-sum, where
// header-sum = len-lo + len-hi + command + status (mod 256) and payload-sum
// is the sum of the payload bytes; a reply without payload ends at header-sum.
std::vector<std::uint8_t> BuildReplyFrame(std::uint8_t command, std::uint8_t status,
                                          std::span<const std::uint8_t> payload);

// Breaks the payload checksum of a frame from BuildReplyFrame. A frame without
// payload has no payload checksum and is left as it is; false then.
bool CorruptPayloadChecksum(std::vector<std::uint8_t>& frame);

// A reply header whose checksum is wrong, with no payload after it. Its length
// field is never 0, so a receiver has to check the sum and go back to hunting
// for a preamble, which it finds in the true reply sent right after.
std::vector<std::uint8_t> BuildBadHeaderFrame(std::uint8_t command, std::uint8_t status,
                                              std::uint16_t length);

// `count` bytes of line noise that hold no 0xAA at all, so they can neither
// form a reply preamble nor spoil the one that follows them.
std::vector<std::uint8_t> NoiseBytes(std::size_t count);

}  // namespace kelvane::sim
