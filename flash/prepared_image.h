#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "flash/block_passes.h"
#include "flash/run_options.h"

namespace kelvane {

// What the drive checks the firmware by, as the loader computed it: the word
// image's checksum (TL3xx, 27 series), the TK720 check word, or the digest
// and time stamp of new TK720 firmware. The Nym monitor has none.
enum class CheckKind { None, WordImageChecksum, CheckWord, Digest };

struct CheckValue {
  CheckKind kind = CheckKind::None;
  std::uint32_t word = 0;  // checksum or check word
  std::array<std::uint8_t, 16> digest{};
  std::uint32_t timeStamp = 0;
};

// A family's image as its procedure sends it: the bytes, the blocks first to
// total - 1, and the name its verdict shows. Made before anything is sent,
// so a dry run can show what a run would do.
struct PreparedImage {
  std::vector<std::uint8_t> bytes;
  int length = 0;
  int first = 0;
  int total = 0;
  const char* fileName = "(null)";
  CheckValue check;

  BlockRange range() const { return {.image = bytes, .first = first, .total = total}; }
};

// Reads and prepares the family's file (or, for a Nym clear, the erased
// image), printing what a run prints about it. Returns 0, or 1 after the
// message of a file the procedure would refuse.
using ImagePreparation = int (*)(const RunOptions& options, const BlockFamily& family,
                                 PreparedImage& image, std::FILE* out, std::FILE* err);

int PrepareNymImage(const RunOptions& options, const BlockFamily& family, PreparedImage& image,
                    std::FILE* out, std::FILE* err);
int PrepareWordImage(const RunOptions& options, const BlockFamily& family, PreparedImage& image,
                     std::FILE* out, std::FILE* err);
int PrepareTK720Image(const RunOptions& options, const BlockFamily& family, PreparedImage& image,
                      std::FILE* out, std::FILE* err);
// Stamped with the time of the call, as a load records when it was made.
int PrepareTK720DigestImage(const RunOptions& options, const BlockFamily& family,
                            PreparedImage& image, std::FILE* out, std::FILE* err);

}  // namespace kelvane
