#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/block_passes.h"
#include "flash/run_options.h"
#include "image/file_messages.h"
#include "image/firmware_data.h"

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
// total - 1, and the name its verdict shows; or the file's refusal. Made
// once, before any port is opened, and only read afterwards: a dry run shows
// it, a run sends it, a station sends it to every drive at once.
struct PreparedImage {
  bool refused = false;
  // A Nym clear: the erased image stands in for a file, which is not read.
  bool clears = false;
  // What reading the file said, told by each run at the point where the
  // procedure reads its file (after the drive's identity).
  FileMessages messages;
  std::vector<std::uint8_t> bytes;
  int length = 0;
  int first = 0;
  int total = 0;
  std::string fileName = "(null)";
  CheckValue check;
  // The SHA-256 of the file's bytes as read, the very bytes the image was
  // made of, for a journal; none for a clear or a file that could not be read.
  std::optional<std::array<std::uint8_t, 32>> fileSha256;
  // What the file is and where its data lies, for a dry run to show; no
  // format for a clear.
  FileDescription description;

  BlockRange range() const { return {.image = bytes, .first = first, .total = total}; }
};

// Reads and prepares the family's file (or, for a Nym clear, the erased
// image). `now` (seconds since 1970) stamps a digest image with when it was
// loaded.
using ImagePreparation = PreparedImage (*)(const RunOptions& options, const BlockFamily& family,
                                           std::uint32_t now);

PreparedImage PrepareNymImage(const RunOptions& options, const BlockFamily& family,
                              std::uint32_t now);
PreparedImage PrepareWordImage(const RunOptions& options, const BlockFamily& family,
                               std::uint32_t now);
PreparedImage PrepareTK720Image(const RunOptions& options, const BlockFamily& family,
                                std::uint32_t now);
PreparedImage PrepareTK720DigestImage(const RunOptions& options, const BlockFamily& family,
                                      std::uint32_t now);

}  // namespace kelvane
