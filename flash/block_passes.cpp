#include "flash/block_passes.h"

#include <algorithm>
#include <array>

namespace kelvane {

namespace {

// The longest read request: a 4-byte address and a 4-byte length field.
constexpr std::size_t MAX_READ_REQUEST = 8;

}  // namespace

int BlockCount(const BlockFamily& family, int length) {
  const int size = static_cast<int>(family.blockSize);
  return family.blockPastImage ? length / size + 1 : (length + size - 1) / size;
}

std::uint32_t WriteAddress(const BlockFamily& family, int block) {
  return family.writeBase +
         static_cast<std::uint32_t>(block) * static_cast<std::uint32_t>(family.blockSize);
}

std::uint32_t ReadBackAddress(const BlockFamily& family, int block) {
  return WriteAddress(family, block) + family.readBackOffset;
}

std::span<const std::uint8_t> BlockBytes(const BlockFamily& family,
                                         std::span<const std::uint8_t> image, int block,
                                         std::span<std::uint8_t, MAX_BLOCK_SIZE> scratch) {
  const std::size_t size = family.blockSize;
  const std::size_t start = static_cast<std::size_t>(block) * size;
  if (start + size <= image.size()) return image.subspan(start, size);
  std::fill_n(scratch.begin(), size, std::uint8_t{0xFF});
  if (start < image.size()) {
    const auto rest = image.subspan(start);
    std::copy(rest.begin(), rest.end(), scratch.begin());
  }
  return std::span<const std::uint8_t>(scratch.data(), size);
}

int CountErroneousLocations(std::span<const std::uint8_t> expected,
                            std::span<const std::uint8_t> reply) {
  const std::size_t compared = std::min(expected.size(), reply.size());
  int errors = static_cast<int>(expected.size() - compared);
  for (std::size_t i = 0; i < compared; ++i) {
    if (expected[i] != reply[i]) ++errors;
  }
  return errors;
}

LinkResult WriteFlashBlock(FrameExchange& link, const BlockFamily& family, std::uint32_t address,
                           std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, MAX_REQUEST_PAYLOAD> request{};
  const std::size_t length = BuildWriteBlockRequest(request, address, family.order, data);
  std::span<const std::uint8_t> reply;
  return link.Transact(CMD_WRITE_BLOCK, std::span(request.data(), length), reply);
}

LinkResult ReadFlashBlock(FrameExchange& link, const BlockFamily& family, std::uint32_t address,
                          std::uint32_t length, std::span<const std::uint8_t>& reply) {
  std::array<std::uint8_t, MAX_READ_REQUEST> request{};
  const std::size_t requestLength =
      BuildReadBlockRequest(request, address, family.order, length, family.readLengthFieldBytes);
  return link.Transact(CMD_READ_BLOCK, std::span(request.data(), requestLength), reply);
}

PassWords WordsOf(const BlockFamily& family) {
  return {.unit = family.unit, .writeFailureShowsCode = family.writeFailureShowsCode};
}

namespace {

Failure BlockFailure(Stage stage, FailureReason reason, int block, std::optional<LinkResult> result,
                     const PassWords& words) {
  Failure failure(stage, reason, block, result);
  failure.words = words;
  return failure;
}

}  // namespace

PassEnd RunWritePass(FrameExchange& link, const BlockFamily& family, const BlockRange& range,
                     RunReport& report, const StopFlag* stop) {
  const int total = range.total;
  const PassWords words = WordsOf(family);
  std::array<std::uint8_t, MAX_BLOCK_SIZE> scratch{};
  report.PassStarted(Pass::Write, total, words);
  for (int block = range.first; block < total; ++block) {
    if (StopAsked(stop)) {
      report.Interrupted(Pass::Write, block, words);
      return PassEnd::Interrupted;
    }
    const auto data = BlockBytes(family, range.image, block, scratch);
    const LinkResult result = WriteFlashBlock(link, family, WriteAddress(family, block), data);
    if (!result.ok()) {
      report.Failed(
          BlockFailure(Stage::Write, FailureReason::BlockWriteFailed, block, result, words));
      return PassEnd::Failed;
    }
    report.BlockDone(Pass::Write, block, total, words);
  }
  report.PassFinished(Pass::Write);
  return PassEnd::Completed;
}

PassEnd RunVerifyPass(FrameExchange& link, const BlockFamily& family, const BlockRange& range,
                      bool& matched, RunReport& report, const StopFlag* stop) {
  const int total = range.total;
  const PassWords words = WordsOf(family);
  std::array<std::uint8_t, MAX_BLOCK_SIZE> scratch{};
  matched = true;
  report.PassStarted(Pass::Verify, total, words);
  for (int block = range.first; block < total; ++block) {
    if (StopAsked(stop)) {
      report.Interrupted(Pass::Verify, block, words);
      return PassEnd::Interrupted;
    }
    std::span<const std::uint8_t> reply;
    const LinkResult result = ReadFlashBlock(link, family, ReadBackAddress(family, block),
                                             static_cast<std::uint32_t>(family.blockSize), reply);
    if (!result.ok()) {
      report.Failed(
          BlockFailure(Stage::Read, FailureReason::BlockVerifyFailed, block, result, words));
      return PassEnd::Failed;
    }
    const int errors =
        CountErroneousLocations(BlockBytes(family, range.image, block, scratch), reply);
    if (errors > 0) {
      report.BlockMismatch(block, errors, words);
      matched = false;
    } else {
      report.BlockDone(Pass::Verify, block, total, words);
    }
  }
  report.PassFinished(Pass::Verify);
  return PassEnd::Completed;
}

PassEnd RunReadPass(FrameExchange& link, const BlockFamily& family, const BlocksNeeded& needed,
                    std::vector<std::uint8_t>& bytes, RunReport& report, const StopFlag* stop) {
  const auto size = static_cast<std::uint32_t>(family.blockSize);
  const PassWords words = WordsOf(family);
  bytes.clear();
  int total = needed(bytes);
  report.PassStarted(Pass::Read, total, words);
  for (int block = 0; block < total; ++block) {
    if (StopAsked(stop)) {
      report.Interrupted(Pass::Read, block, words);
      return PassEnd::Interrupted;
    }
    std::span<const std::uint8_t> reply;
    const LinkResult result =
        ReadFlashBlock(link, family, ReadBackAddress(family, block), size, reply);
    if (!result.ok()) {
      report.Failed(
          BlockFailure(Stage::Read, FailureReason::BlockReadFailed, block, result, words));
      return PassEnd::Failed;
    }
    // Bytes the drive did not send are bytes no backup can hold.
    if (reply.size() < size) {
      Failure failure =
          BlockFailure(Stage::Read, FailureReason::BlockReadShort, block, std::nullopt, words);
      failure.count = static_cast<int>(reply.size());
      failure.size = static_cast<int>(size);
      report.Failed(failure);
      return PassEnd::Failed;
    }
    bytes.insert(bytes.end(), reply.begin(), reply.begin() + size);
    total = needed(bytes);
    report.BlockDone(Pass::Read, block, std::max(total, block + 1), words);
  }
  report.PassFinished(Pass::Read);
  return PassEnd::Completed;
}

}  // namespace kelvane
