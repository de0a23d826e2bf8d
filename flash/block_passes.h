#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "flash/run_report.h"
#include "link/drive_commands.h"
#include "link/frame_exchange.h"

namespace kelvane {

// What sets one drive family's flash apart: everything the shared write and
// read-back passes need to address its blocks and word its messages.
struct BlockFamily {
  // Bytes per flash block (a "sector" or a "block" in the drive's terms).
  std::size_t blockSize = 256;
  // Byte order of the address and read length fields in the requests.
  ByteOrder order = ByteOrder::LeastSignificantFirst;
  // Flash address of block 0; block k is written at writeBase + k * blockSize.
  std::uint32_t writeBase = 0;
  // The drive reads a block back this far above the address it was written at.
  std::uint32_t readBackOffset = 0;
  // Size of the read request's length field: 2, or 4 for the TK720.
  std::size_t readLengthFieldBytes = 2;
  // "sector" or "block".
  const char* unit = "sector";
  // Only the Nym monitor's write failures are told with the drive's code.
  bool writeFailureShowsCode = false;
  // The drive named when the flash does not match the file.
  const char* driveName = "";
  // The S-record drives take the whole blocks the image fills plus one, so an
  // image ending on a block boundary is followed by a block of 0xFF; the
  // TK720 monitors take the image rounded up to whole blocks.
  bool blockPastImage = false;
  // The fixed area an S-record image is built in (0 for the TK720 images,
  // sized by their file), and the longest word image whose blocks, the one
  // past the image included, stay inside it and below anything the monitor
  // keeps above the firmware.
  std::size_t imageArea = 0;
  int maxImageLength = 0;
  // The 27 series monitor checks the firmware against a sector of its own.
  bool checksumSector = false;
  // Reading the firmware back out: the bytes from block 0 on that may hold
  // an image (0 where the monitor serves no block reads, as the digest
  // drive's).
  std::size_t readArea = 0;
};

inline constexpr std::size_t MAX_BLOCK_SIZE = 256;

// The image and the blocks first to total - 1 to send. Progress lines count
// up to `total` even when the pass starts late ("737 of 992").
struct BlockRange {
  std::span<const std::uint8_t> image;
  int first = 0;
  int total = 0;
};

// The number of blocks an image of `length` bytes goes out as.
int BlockCount(const BlockFamily& family, int length);

std::uint32_t WriteAddress(const BlockFamily& family, int block);
std::uint32_t ReadBackAddress(const BlockFamily& family, int block);

// Block `block` of `image`, padded with 0xFF (the erased flash value) where
// the image ends before the block does.
std::span<const std::uint8_t> BlockBytes(const BlockFamily& family,
                                         std::span<const std::uint8_t> image, int block,
                                         std::span<std::uint8_t, MAX_BLOCK_SIZE> scratch);

// The number of positions of `expected` the drive's read-back does not
// reproduce: differing bytes, plus every byte the reply fell short by. Bytes
// beyond `expected.size()` are not looked at.
int CountErroneousLocations(std::span<const std::uint8_t> expected,
                            std::span<const std::uint8_t> reply);

// One CMD_WRITE_BLOCK of `data` at `address`.
LinkResult WriteFlashBlock(FrameExchange& link, const BlockFamily& family, std::uint32_t address,
                           std::span<const std::uint8_t> data);
// One CMD_READ_BLOCK of `length` bytes at `address`; when it succeeds
// `reply` views the drive's bytes until the next exchange.
LinkResult ReadFlashBlock(FrameExchange& link, const BlockFamily& family, std::uint32_t address,
                          std::uint32_t length, std::span<const std::uint8_t>& reply);

// How a pass ended: every block done, a failure reported, or a stop asked for
// (by Ctrl-C) honoured at a block boundary and reported.
enum class PassEnd { Completed, Failed, Interrupted };

// Set from outside the run (a signal handler) to stop it at the next block
// boundary; a run without one is never stopped.
using StopFlag = std::atomic<bool>;
inline bool StopAsked(const StopFlag* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed);
}

PassWords WordsOf(const BlockFamily& family);

// Writes every block of `range` in ascending order, each reported done, and
// finishes the pass; or reports the failure of the first block the drive did
// not take.
PassEnd RunWritePass(FrameExchange& link, const BlockFamily& family, const BlockRange& range,
                     RunReport& report, const StopFlag* stop);

// Reads every block of `range` back and compares it with the image; a
// mismatch is reported and the pass goes on, `matched` telling at the end
// whether every block agreed. A failed exchange is reported and ends it.
PassEnd RunVerifyPass(FrameExchange& link, const BlockFamily& family, const BlockRange& range,
                      bool& matched, RunReport& report, const StopFlag* stop);

// How many blocks a read pass reads in all, told the bytes of the blocks
// read so far: the pass stops once it has read that many.
using BlocksNeeded = std::function<int(std::span<const std::uint8_t> read)>;

// Reads blocks 0, 1, ... at their read-back addresses into `bytes`, as the
// verify pass reads them, each reported done, until `needed` says enough;
// or reports the failure of an exchange or of a reply short of a block.
PassEnd RunReadPass(FrameExchange& link, const BlockFamily& family, const BlocksNeeded& needed,
                    std::vector<std::uint8_t>& bytes, RunReport& report, const StopFlag* stop);

}  // namespace kelvane
