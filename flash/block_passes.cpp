#include "flash/block_passes.h"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "link/frame_exchange.h"

namespace kelvane {

namespace {

// The longest read request: a 4-byte address and a 4-byte length field.
constexpr std::size_t MAX_READ_REQUEST = 8;

// Each progress line is pushed out at once only for someone watching it, or
// when a link trace on standard error goes between the lines. Into a file or
// a pipe the lines leave in blocks, a system call saved per block; the run's
// other messages flush them, before its end and before standard error.
bool FlushEachLine(const SerialPort& port, std::FILE* out) {
  return port.trace != nullptr || isatty(fileno(out));
}

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

int WriteFlashBlock(SerialPort& port, const BlockFamily& family, std::uint32_t address,
                    std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, MAX_REQUEST_PAYLOAD> request{};
  const std::size_t length = BuildWriteBlockRequest(request, address, family.order, data);
  std::span<const std::uint8_t> reply;
  return Transact(port, CMD_WRITE_BLOCK, std::span(request.data(), length), reply);
}

int ReadFlashBlock(SerialPort& port, const BlockFamily& family, std::uint32_t address,
                   std::uint32_t length, std::span<const std::uint8_t>& reply) {
  std::array<std::uint8_t, MAX_READ_REQUEST> request{};
  const std::size_t requestLength =
      BuildReadBlockRequest(request, address, family.order, length, family.readLengthFieldBytes);
  return Transact(port, CMD_READ_BLOCK, std::span(request.data(), requestLength), reply);
}

int RunWritePass(SerialPort& port, const BlockFamily& family, const BlockRange& range,
                 std::FILE* out) {
  const int total = range.total;
  const bool live = FlushEachLine(port, out);
  std::array<std::uint8_t, MAX_BLOCK_SIZE> scratch{};
  std::fputs("Updating firmware:\r\n", out);
  for (int block = range.first; block < total; ++block) {
    const auto data = BlockBytes(family, range.image, block, scratch);
    const int result = WriteFlashBlock(port, family, WriteAddress(family, block), data);
    if (result != LINK_OK) {
      if (family.writeFailureShowsCode) {
        std::fprintf(out, "FLASH update failed on %s %d : error code %d\r\n", family.unit, block,
                     result);
      } else {
        std::fprintf(out, "FLASH update failed on %s %d\r\n", family.unit, block);
      }
      return 1;
    }
    std::fprintf(out, "%4d of %4d %ss updated\r", block + 1, total, family.unit);
    if (live) std::fflush(out);
  }
  std::fputs("\r\nFirmware was successufully updated\r\n", out);
  return 0;
}

int RunVerifyPass(SerialPort& port, const BlockFamily& family, const BlockRange& range,
                  bool& matched, std::FILE* out) {
  const int total = range.total;
  const bool live = FlushEachLine(port, out);
  std::array<std::uint8_t, MAX_BLOCK_SIZE> scratch{};
  matched = true;
  std::fputs("Verifying firmware:\r\n", out);
  for (int block = range.first; block < total; ++block) {
    std::span<const std::uint8_t> reply;
    const int result = ReadFlashBlock(port, family, ReadBackAddress(family, block),
                                      static_cast<std::uint32_t>(family.blockSize), reply);
    if (result != LINK_OK) {
      std::fprintf(out, "FLASH verification failed on %s %d because of communication error %d\r\n",
                   family.unit, block, result);
      return 1;
    }
    const int errors =
        CountErroneousLocations(BlockBytes(family, range.image, block, scratch), reply);
    if (errors > 0) {
      std::fprintf(out, " %s %4d has %4d errorneous location(s)\r\n", family.unitTitle, block + 1,
                   errors);
      matched = false;
    } else {
      std::fprintf(out, "%4d of %4d %ss verifyed\r", block + 1, total, family.unit);
    }
    if (live) std::fflush(out);
  }
  return 0;
}

int RunReadPass(SerialPort& port, const BlockFamily& family, const BlocksNeeded& needed,
                std::vector<std::uint8_t>& bytes, std::FILE* out) {
  const auto size = static_cast<std::uint32_t>(family.blockSize);
  const bool live = FlushEachLine(port, out);
  std::fputs("Reading firmware:\r\n", out);
  bytes.clear();
  for (int block = 0, total = needed(bytes); block < total; ++block) {
    std::span<const std::uint8_t> reply;
    const int result = ReadFlashBlock(port, family, ReadBackAddress(family, block), size, reply);
    if (result != LINK_OK) {
      std::fprintf(out, "FLASH read failed on %s %d because of communication error %d\r\n",
                   family.unit, block, result);
      return 1;
    }
    // Bytes the drive did not send are bytes no backup can hold.
    if (reply.size() < size) {
      std::fprintf(out, "FLASH read failed on %s %d: the drive sent %d of its %d bytes\r\n",
                   family.unit, block, static_cast<int>(reply.size()), static_cast<int>(size));
      return 1;
    }
    bytes.insert(bytes.end(), reply.begin(), reply.begin() + size);
    total = needed(bytes);
    std::fprintf(out, "%4d of %4d %ss read\r", block + 1, std::max(total, block + 1), family.unit);
    if (live) std::fflush(out);
  }
  std::fputs("\r\n", out);
  return 0;
}

void PrintVerdict(const BlockFamily& family, bool matched, const char* fileName, std::FILE* out) {
  if (matched) {
    std::fputs("\r\nFirmware was successufully verifyed\r\n", out);
  } else {
    std::fprintf(out, "\r\nFirmware in the %s drive does not much the file %s\r\n",
                 family.driveName, fileName);
  }
  std::fflush(out);
}

}  // namespace kelvane
