#include "bench/wire_load.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include "bench/child_process.h"
#include "link/drive_commands.h"
#include "link/frame_exchange.h"
#include "sim/identity.h"

namespace kelvane::bench {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t SECTOR_BYTES = 256;
// The Nym drive serves the sector written at A back from A + 0x2000.
constexpr std::uint32_t READ_BACK_OFFSET = 0x2000;
// Reply frames: AA 55, length (2), command, status, header checksum, then
// the payload and its checksum when there is a payload.
constexpr std::size_t REPLY_HEADER = 7;
constexpr std::size_t REQUEST_HEADER = 6;

std::size_t RequestBytes(std::size_t payload) {
  return REQUEST_HEADER + (payload == 0 ? 0 : payload + 1);
}
std::size_t ReplyBytes(std::size_t payload) {
  return REPLY_HEADER + (payload == 0 ? 0 : payload + 1);
}

std::size_t NymIdentityLength() {
  return sim::EncodeNymIdentity(sim::DefaultIdentityFields(sim::SimFamily::Nym)).size();
}

// A generous bound: the paced run takes about 6 s.
constexpr milliseconds RUN_LIMIT{120'000};
constexpr milliseconds START_LIMIT{10'000};

std::optional<ChildProcess> StartDrive(bool paced, std::string& ptyPath, std::string& error) {
  // Another drive-sim can be put in, to try a change to its pacing.
  const char* other = std::getenv("KELVANE_BENCH_DRIVE_SIM");
  std::vector<std::string> args = {other != nullptr && *other != '\0' ? other : DRIVE_SIM_BIN,
                                   "--family", "nym"};
  if (paced) args.insert(args.end(), {"--pace", "--baud", std::to_string(LINE_BAUD)});
  std::optional<ChildProcess> drive =
      ChildProcess::Spawn(args, StdoutTo{.file = {}, .pipe = true}, error);
  if (!drive) return std::nullopt;
  const std::optional<std::string> line = drive->ReadLine(START_LIMIT);
  if (!line || line->empty()) {
    error = "drive-sim printed no pseudo-terminal path";
    return std::nullopt;
  }
  ptyPath = *line;
  return drive;
}

std::string ReadWholeText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An open pseudo-terminal end, raw, closed on scope exit.
class RawLine {
 public:
  explicit RawLine(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios line{};
    if (fd_ >= 0 && tcgetattr(fd_, &line) == 0) {
      cfmakeraw(&line);
      tcsetattr(fd_, TCSANOW, &line);
    }
  }
  ~RawLine() {
    if (fd_ >= 0) close(fd_);
  }
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads one whole reply frame, in as few reads as the line allows; the
// status byte, or -1 on silence or a broken line.
int ReadReply(int fd, std::array<std::uint8_t, 512>& frame) {
  std::size_t have = 0;
  std::size_t want = REPLY_HEADER;
  while (have < want) {
    pollfd ready{fd, POLLIN, 0};
    const int n = poll(&ready, 1, 1000);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    const ssize_t got = read(fd, frame.data() + have, want - have);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return -1;
    have += static_cast<std::size_t>(got);
    if (have >= REPLY_HEADER && want == REPLY_HEADER) {
      if (frame[0] != 0xAA || frame[1] != 0x55) return -1;
      want = ReplyBytes(frame[2] + 256u * frame[3]);
      if (want > frame.size()) return -1;
    }
  }
  return frame[5];
}

}  // namespace

std::size_t ClearRunWireBytes() {
  const std::size_t identify = RequestBytes(0) + ReplyBytes(NymIdentityLength());
  const std::size_t write = RequestBytes(4 + SECTOR_BYTES) + ReplyBytes(0);
  const std::size_t readBack = RequestBytes(6) + ReplyBytes(SECTOR_BYTES);
  return identify + CLEAR_SECTORS * (write + readBack);
}

double WireSeconds(std::size_t bytes, int baud) {
  return static_cast<double>(bytes) * 10.0 / static_cast<double>(baud);
}

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kelvane-bench-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

LoadFigures RunClearLoad(bool paced) {
  LoadFigures figures;
  ScratchDir dir;
  if (!dir.ok()) {
    figures.failure = "cannot make a scratch directory";
    return figures;
  }
  std::string ptyPath;
  std::optional<ChildProcess> drive = StartDrive(paced, ptyPath, figures.failure);
  if (!drive) return figures;

  const std::string outPath = dir.File("kelvane.out");
  std::optional<ChildProcess> loader =
      ChildProcess::Spawn({KELVANE_BIN, "/d", "/b" + std::to_string(LINE_BAUD), "/c" + ptyPath},
                          StdoutTo{.file = outPath, .pipe = false}, figures.failure);
  if (!loader) return figures;
  const ChildUsage usage = loader->Wait(RUN_LIMIT);
  drive->Stop(START_LIMIT);
  if (!usage.ended) {
    figures.failure = "kelvane did not finish";
    return figures;
  }
  const std::string output = ReadWholeText(outPath);
  // A run that did not reach a clean verdict measured something else.
  if (usage.exitStatus != 0 ||
      output.find("Firmware was successufully verifyed") == std::string::npos) {
    figures.failure = "kelvane failed (status " + std::to_string(usage.exitStatus) + ")";
    return figures;
  }
  figures.ok = true;
  figures.wallSeconds = usage.wallSeconds;
  figures.cpuSeconds = usage.cpuSeconds;
  figures.peakRssKiB = usage.peakRssKiB;
  return figures;
}

LoadFigures RunBareClearExchanges(bool paced) {
  LoadFigures figures;
  std::string ptyPath;
  std::optional<ChildProcess> drive = StartDrive(paced, ptyPath, figures.failure);
  if (!drive) return figures;

  const Clock::time_point started = Clock::now();
  RawLine line(ptyPath);
  if (line.fd() < 0) {
    figures.failure = "cannot open " + ptyPath;
    return figures;
  }
  std::array<std::uint8_t, MAX_REQUEST_FRAME> request{};
  std::array<std::uint8_t, 512> reply{};
  const auto exchange = [&](int command, std::span<const std::uint8_t> payload) {
    const std::size_t n = EncodeRequestFrame(0xAA55, command, payload, request);
    return WriteAll(line.fd(), std::span<const std::uint8_t>(request.data(), n)) &&
           ReadReply(line.fd(), reply) == 0;
  };

  bool ok = exchange(CMD_IDENTIFY, {});
  const std::array<std::uint8_t, SECTOR_BYTES> erased = [] {
    std::array<std::uint8_t, SECTOR_BYTES> bytes{};
    bytes.fill(0xFF);
    return bytes;
  }();
  std::array<std::uint8_t, MAX_REQUEST_PAYLOAD> payload{};
  for (int k = 0; ok && k < CLEAR_SECTORS; ++k) {
    const std::size_t n = BuildWriteBlockRequest(payload, static_cast<std::uint32_t>(k * 256),
                                                 ByteOrder::MostSignificantFirst, erased);
    ok = exchange(CMD_WRITE_BLOCK, std::span<const std::uint8_t>(payload.data(), n));
  }
  for (int k = 0; ok && k < CLEAR_SECTORS; ++k) {
    const std::size_t n =
        BuildReadBlockRequest(payload, READ_BACK_OFFSET + static_cast<std::uint32_t>(k * 256),
                              ByteOrder::MostSignificantFirst, SECTOR_BYTES, 2);
    ok = exchange(CMD_READ_BLOCK, std::span<const std::uint8_t>(payload.data(), n));
  }
  figures.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
  drive->Stop(START_LIMIT);
  if (!ok) {
    figures.failure = "the drive did not answer every exchange";
    return figures;
  }
  figures.ok = true;
  return figures;
}

}  // namespace kelvane::bench
