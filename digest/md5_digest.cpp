#include "digest/md5_digest.h"

#include <array>
#include <bit>
#include <cstddef>

namespace kelvane {

namespace {

// The drive computes the RFC 1321 digest of the image it holds; ours must be
// the same function, written out here so that the loader needs no library.

constexpr std::size_t BLOCK_BYTES = 64;
// The bit length takes the last eight bytes of the final block.
constexpr std::size_t LENGTH_FIELD_OFFSET = BLOCK_BYTES - 8;

using State = std::array<std::uint32_t, 4>;

std::uint32_t LoadLittleEndian(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// The 64 steps are written out one by one, each with its message word, its
// sine-derived constant and its rotation as literals: a digest over a
// multi-megabyte TK720 image then runs as fast as a library's. Every step
// adds a round function of b, c and d to a; the functions are written so
// that as little as possible waits for b, the value the step before produced.

// Round 1: (b & c) | (~b & d), the same bits as d ^ (b & (c ^ d)).
template <int S>
inline void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t word, std::uint32_t constant) {
  a += word + constant + (d ^ (b & (c ^ d)));
  a = std::rotl(a, S) + b;
}

// Round 2: (b & d) | (c & ~d). The two halves never share a bit, so they can
// be added, and the half without b goes in first.
template <int S>
inline void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t word, std::uint32_t constant) {
  a += word + constant + (c & ~d);
  a += b & d;
  a = std::rotl(a, S) + b;
}

// Round 3: b ^ c ^ d.
template <int S>
inline void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t word, std::uint32_t constant) {
  a += word + constant + (b ^ c ^ d);
  a = std::rotl(a, S) + b;
}

// Round 4: c ^ (b | ~d).
template <int S>
inline void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t word, std::uint32_t constant) {
  a += word + constant + (c ^ (b | ~d));
  a = std::rotl(a, S) + b;
}

void ProcessBlock(State& state, const std::uint8_t* block) {
  // The message words are little-endian; compilers turn this into plain
  // loads on a little-endian PC.
  std::array<std::uint32_t, 16> x;
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = LoadLittleEndian(block + 4 * i);

  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];

  StepF<7>(a, b, c, d, x[0], 0xd76aa478);
  StepF<12>(d, a, b, c, x[1], 0xe8c7b756);
  StepF<17>(c, d, a, b, x[2], 0x242070db);
  StepF<22>(b, c, d, a, x[3], 0xc1bdceee);
  StepF<7>(a, b, c, d, x[4], 0xf57c0faf);
  StepF<12>(d, a, b, c, x[5], 0x4787c62a);
  StepF<17>(c, d, a, b, x[6], 0xa8304613);
  StepF<22>(b, c, d, a, x[7], 0xfd469501);
  StepF<7>(a, b, c, d, x[8], 0x698098d8);
  StepF<12>(d, a, b, c, x[9], 0x8b44f7af);
  StepF<17>(c, d, a, b, x[10], 0xffff5bb1);
  StepF<22>(b, c, d, a, x[11], 0x895cd7be);
  StepF<7>(a, b, c, d, x[12], 0x6b901122);
  StepF<12>(d, a, b, c, x[13], 0xfd987193);
  StepF<17>(c, d, a, b, x[14], 0xa679438e);
  StepF<22>(b, c, d, a, x[15], 0x49b40821);

  StepG<5>(a, b, c, d, x[1], 0xf61e2562);
  StepG<9>(d, a, b, c, x[6], 0xc040b340);
  StepG<14>(c, d, a, b, x[11], 0x265e5a51);
  StepG<20>(b, c, d, a, x[0], 0xe9b6c7aa);
  StepG<5>(a, b, c, d, x[5], 0xd62f105d);
  StepG<9>(d, a, b, c, x[10], 0x02441453);
  StepG<14>(c, d, a, b, x[15], 0xd8a1e681);
  StepG<20>(b, c, d, a, x[4], 0xe7d3fbc8);
  StepG<5>(a, b, c, d, x[9], 0x21e1cde6);
  StepG<9>(d, a, b, c, x[14], 0xc33707d6);
  StepG<14>(c, d, a, b, x[3], 0xf4d50d87);
  StepG<20>(b, c, d, a, x[8], 0x455a14ed);
  StepG<5>(a, b, c, d, x[13], 0xa9e3e905);
  StepG<9>(d, a, b, c, x[2], 0xfcefa3f8);
  StepG<14>(c, d, a, b, x[7], 0x676f02d9);
  StepG<20>(b, c, d, a, x[12], 0x8d2a4c8a);

  StepH<4>(a, b, c, d, x[5], 0xfffa3942);
  StepH<11>(d, a, b, c, x[8], 0x8771f681);
  StepH<16>(c, d, a, b, x[11], 0x6d9d6122);
  StepH<23>(b, c, d, a, x[14], 0xfde5380c);
  StepH<4>(a, b, c, d, x[1], 0xa4beea44);
  StepH<11>(d, a, b, c, x[4], 0x4bdecfa9);
  StepH<16>(c, d, a, b, x[7], 0xf6bb4b60);
  StepH<23>(b, c, d, a, x[10], 0xbebfbc70);
  StepH<4>(a, b, c, d, x[13], 0x289b7ec6);
  StepH<11>(d, a, b, c, x[0], 0xeaa127fa);
  StepH<16>(c, d, a, b, x[3], 0xd4ef3085);
  StepH<23>(b, c, d, a, x[6], 0x04881d05);
  StepH<4>(a, b, c, d, x[9], 0xd9d4d039);
  StepH<11>(d, a, b, c, x[12], 0xe6db99e5);
  StepH<16>(c, d, a, b, x[15], 0x1fa27cf8);
  StepH<23>(b, c, d, a, x[2], 0xc4ac5665);

  StepI<6>(a, b, c, d, x[0], 0xf4292244);
  StepI<10>(d, a, b, c, x[7], 0x432aff97);
  StepI<15>(c, d, a, b, x[14], 0xab9423a7);
  StepI<21>(b, c, d, a, x[5], 0xfc93a039);
  StepI<6>(a, b, c, d, x[12], 0x655b59c3);
  StepI<10>(d, a, b, c, x[3], 0x8f0ccc92);
  StepI<15>(c, d, a, b, x[10], 0xffeff47d);
  StepI<21>(b, c, d, a, x[1], 0x85845dd1);
  StepI<6>(a, b, c, d, x[8], 0x6fa87e4f);
  StepI<10>(d, a, b, c, x[15], 0xfe2ce6e0);
  StepI<15>(c, d, a, b, x[6], 0xa3014314);
  StepI<21>(b, c, d, a, x[13], 0x4e0811a1);
  StepI<6>(a, b, c, d, x[4], 0xf7537e82);
  StepI<10>(d, a, b, c, x[11], 0xbd3af235);
  StepI<15>(c, d, a, b, x[2], 0x2ad7d2bb);
  StepI<21>(b, c, d, a, x[9], 0xeb86d391);

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
