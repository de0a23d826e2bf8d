#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvane {

inline constexpr int CMD_IDENTIFY = 16;
inline constexpr int CMD_WRITE_BLOCK = 17;
inline constexpr int CMD_READ_BLOCK = 18;

// A digest drive's identify reply carries the MD5 digest of the firmware it
// holds at bytes 112 to 127 when it is at least 152 bytes long; without valid
// firmware the monitor sends its personality alone.
inline constexpr std::uint32_t VALID_FIRMWARE_REPLY_LENGTH = 152;
inline constexpr std::size_t FIRMWARE_DIGEST_OFFSET = 112;
inline constexpr std::size_t FIRMWARE_DIGEST_SIZE = 16;

std::uint32_t ByteSwap32(std::uint32_t value);
// Reverses the four bytes at `word` where they stand; returns `word`.
std::uint8_t* ByteSwap32InPlace(std::uint8_t* word);

// The order in which a family's drive expects multi-byte request fields.
enum class ByteOrder { MostSignificantFirst, LeastSignificantFirst };

void StoreWord32(std::span<std::uint8_t, 4> at, std::uint32_t value, ByteOrder order);
std::uint32_t LoadWord32(std::span<const std::uint8_t, 4> at, ByteOrder order);

// WriteBlockRequest: the address, then the block. Returns the payload length.
std::size_t BuildWriteBlockRequest(std::span<std::uint8_t> request, std::uint32_t address,
                                   ByteOrder order, std::span<const std::uint8_t> block);
// ReadBlockRequest: the address, then `length` in a field of
// `lengthFieldBytes` (2, or 4 for the TK720). Returns the payload length.
std::size_t BuildReadBlockRequest(std::span<std::uint8_t> request, std::uint32_t address,
                                  ByteOrder order, std::uint32_t length,
                                  std::size_t lengthFieldBytes);

}  // namespace kelvane
