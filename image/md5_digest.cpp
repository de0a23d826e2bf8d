#include "image/md5_digest.h"

#include <array>
#include <cstddef>

namespace kelvane {

namespace {

// The drive computes the RFC 1321 digest of the image it holds; ours must be
// the same function, written out here so that the loader needs no library.

// Sine-derived additive constants, one per step.
constexpr std::array<std::uint32_t, 64> STEP_CONSTANTS = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left-rotation amounts: four per round, repeated through the round.
constexpr std::array<int, 16> ROTATIONS = {7, 12, 17, 22, 5, 9,  14, 20,
                                           4, 11, 16, 23, 6, 10, 15, 21};

constexpr std::size_t BLOCK_BYTES = 64;
// The bit length takes the last eight bytes of the final block.
constexpr std::size_t LENGTH_FIELD_OFFSET = BLOCK_BYTES - 8;

using State = std::array<std::uint32_t, 4>;

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

std::uint32_t LoadLittleEndian(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void ProcessBlock(State& state, const std::uint8_t* block) {
  std::array<std::uint32_t, 16> words;
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = LoadLittleEndian(block + 4 * i);

  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (int step = 0; step < 64; ++step) {
    const int round = step / 16;
    std::uint32_t mix = 0;
    int wordIndex = 0;
    switch (round) {
      case 0:
        mix = (b & c) | (~b & d);
        wordIndex = step;
        break;
      case 1:
        mix = (d & b) | (~d & c);
        wordIndex = (5 * step + 1) % 16;
        break;
      case 2:
        mix = b ^ c ^ d;
        wordIndex = (3 * step + 5) % 16;
        break;
      default:
        mix = c ^ (b | ~d);
        wordIndex = (7 * step) % 16;
        break;
    }
    const std::uint32_t sum = a + mix + STEP_CONSTANTS[step] + words[wordIndex];
    a = d;
    d = c;
    c = b;
    b = b + RotateLeft(sum, ROTATIONS[round * 4 + step % 4]);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5Digest(std::span<std::uint8_t, 16> digest, std::span<const std::uint8_t> data) {
  State state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

  const std::size_t wholeBlocks = data.size() / BLOCK_BYTES;
  for (std::size_t i = 0; i < wholeBlocks; ++i) ProcessBlock(state, data.data() + i * BLOCK_BYTES);

  // The rest of the data, the 0x80 marker, zeros, and the length in bits:
  // one more block, or two when the rest leaves no room for the length.
  std::array<std::uint8_t, 2 * BLOCK_BYTES> tail = {};
  const std::size_t rest = data.size() - wholeBlocks * BLOCK_BYTES;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = data[wholeBlocks * BLOCK_BYTES + i];
  tail[rest] = 0x80;
  const std::size_t tailBytes = rest < LENGTH_FIELD_OFFSET ? BLOCK_BYTES : 2 * BLOCK_BYTES;
  const std::uint64_t bitLength = static_cast<std::uint64_t>(data.size()) * 8;
  for (std::size_t i = 0; i < 8; ++i) {
    tail[tailBytes - 8 + i] = static_cast<std::uint8_t>(bitLength >> (8 * i));
  }
  for (std::size_t offset = 0; offset < tailBytes; offset += BLOCK_BYTES) {
    ProcessBlock(state, tail.data() + offset);
  }

  for (std::size_t i = 0; i < state.size(); ++i) {
    for (std::size_t j = 0; j < 4; ++j) {
      digest[4 * i + j] = static_cast<std::uint8_t>(state[i] >> (8 * j));
    }
  }
}

}  // namespace kelvane
