// What a load costs: the loader's own CPU and peak memory for a whole-flash
// clear of a Nym drive (kelvane /d: 992 sector writes of 0xFF and 992
// read-backs) against the time its bytes take on a 921600 baud line, the
// loader's CPU for a backup (/u) of a Nym drive whose record stream fills its
// whole image area (1000 sector reads) against its wire time, its wall
// time against a drive-sim that paces its replies like that line beside a bare
// client sending the same frames, and our MD5 beside OpenSSL's. Then the
// station: the Nym sample into 8 drive-sims paced at 115200 baud against
// kelvane into one, and its peak memory with 64 unpaced drives. And the /d
// clear through the C library (kelvane_run) beside kelvane's own CPU. Every figure
// is the median of several runs: the machine is often shared.
//
//   kelvane_bench [runs]      (5 runs unless told; bench/run.sh builds it)

#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "digest/md5_digest.h"
#include "monitor/drive_monitor.h"
#include "monitor/frame_codec.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kelvane::bench {

namespace {

using Clock = std::chrono::steady_clock;
using testing::ChildProcess;

constexpr int LINE_BAUD = 921600;  // what USB serial adapters reach
constexpr std::uint32_t SECTORS = 992;
constexpr std::uint32_t SECTOR_BYTES = 256;
// The Nym drive serves the sector written at A back from A + 0x2000.
constexpr std::uint32_t READ_BACK_OFFSET = 0x2000;
constexpr auto RUN_LIMIT = std::chrono::seconds(120);

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

const char* Goal(bool met) {
  return met ? "met" : "NOT MET";
}

// A Nym drive-sim, answering at once or paced like the line.
std::vector<std::string> DriveArgs(bool paced) {
  std::vector<std::string> args = {DRIVE_SIM_BIN, "--family", "nym"};
  if (paced) args.insert(args.end(), {"--pace", "--baud", std::to_string(LINE_BAUD)});
  return args;
}

// The path of drive-sim's pseudo-terminal once it printed it, else empty.
std::string PortOf(ChildProcess& drive) {
  if (!drive.startError().empty() || !drive.WaitForStdout("\n", std::chrono::seconds(10))) {
    return {};
  }
  const std::string out = drive.Stdout();
  return out.substr(0, out.find('\n'));
}

struct LoadRun {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  long peakRssKiB = 0;
};

// kelvane /d from start to exit, or (`library`) the same clear through
// kelvane_run; nothing when it did not reach a clean verdict, for then it
// measured something else.
std::optional<LoadRun> RunLoader(bool paced, bool library = false) {
  ChildProcess drive(DriveArgs(paced));
  const std::string port = PortOf(drive);
  if (port.empty()) return std::nullopt;
  const Clock::time_point start = Clock::now();
  const std::string baud = std::to_string(LINE_BAUD);
  ChildProcess loader(library
                          ? std::vector<std::string>{LIBRARY_LOAD_BIN, port, baud}
                          : std::vector<std::string>{KELVANE_BIN, "/d", "/b" + baud, "/c" + port});
  if (!loader.Wait(RUN_LIMIT) || loader.status() != 0 ||
      (!library &&
       loader.Stdout().find("Firmware was successufully verifyed") == std::string::npos)) {
    return std::nullopt;
  }
  return LoadRun{SecondsSince(start), loader.cpuSeconds(), loader.peakRssKiB()};
}

std::vector<std::uint8_t> AddressPayload(std::uint32_t address) {
  return {static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
          static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
}

// The wire bytes of one exchange: request and reply frames.
std::size_t ExchangeBytes(std::uint8_t command, std::size_t requestPayload,
                          std::size_t replyPayload) {
  return sim::BuildRequestFrame(command, std::vector<std::uint8_t>(requestPayload)).size() +
         sim::BuildReplyFrame(command, 0, std::vector<std::uint8_t>(replyPayload)).size();
}

// A Nym drive's flash whose record stream runs into the last of the 1000
// sectors of its image area: S3 records of 47 bytes after the count, the
// longest one S-record line of the Nym reader holds.
std::vector<std::uint8_t> FullStreamFlash() {
  constexpr std::size_t AREA = 256000, RECORD = 49;
  std::vector<std::uint8_t> flash(READ_BACK_OFFSET, 0xFF);
  std::uint32_t address = 0;
  while (flash.size() - READ_BACK_OFFSET + RECORD + 2 < AREA) {
    flash.insert(flash.end(), {'3', RECORD - 2});
    const auto field = AddressPayload(address);
    flash.insert(flash.end(), field.begin(), field.end());
    for (std::size_t i = 0; i < RECORD - 7; ++i) flash.push_back(static_cast<std::uint8_t>(i * 7));
    flash.push_back(0x5A);  // the record's checksum byte, which the loader keeps as it is
    address += RECORD - 7;
  }
  flash.insert(flash.end(), {0xFF, 0xFF});
  return flash;
}

// kelvane /u against an unpaced drive holding FullStreamFlash(): the
// loader's CPU seconds and, in `wireBytes`, what the run puts on the line.
std::optional<double> RunBackup(std::size_t& wireBytes) {
  testing::TempDir dir;
  dir.Write("flash.in", FullStreamFlash());
  ChildProcess drive({DRIVE_SIM_BIN, "--family", "nym", "--flash-in", dir.File("flash.in")});
  const std::string port = PortOf(drive);
  if (port.empty()) return std::nullopt;
  ChildProcess loader(
      {KELVANE_BIN, "/u" + dir.File("backup.s"), "/b" + std::to_string(LINE_BAUD), "/c" + port});
  if (!loader.Wait(RUN_LIMIT) || loader.status() != 0 ||
      loader.Stdout().find("1000 of 1000 sectors read") == std::string::npos) {
    return std::nullopt;
  }
  wireBytes = ExchangeBytes(sim::COMMAND_IDENTIFY, 0, 40) +
              1000 * ExchangeBytes(sim::COMMAND_READ_BLOCK, 6, SECTOR_BYTES);
  return loader.cpuSeconds();
}

// The loader's exchanges from the leanest client there is: one write a
// request, replies read in bulk. Its wall time is the floor that drive-sim's
// pacing and the pseudo-terminal set; `wireBytes` counts both ways.
std::optional<double> RunBareClient(std::size_t& wireBytes) {
  ChildProcess drive(DriveArgs(true));
  const std::string port = PortOf(drive);
  if (port.empty()) return std::nullopt;
  const Clock::time_point start = Clock::now();
  const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  // drive-sim leaves the line as a new terminal comes (cooked, with echo):
  // setting it raw is the client's job, as it is the loader's.
  termios line{};
  bool ok = fd >= 0 && tcgetattr(fd, &line) == 0;
  if (ok) {
    cfmakeraw(&line);
    ok = tcsetattr(fd, TCSANOW, &line) == 0;
  }
  wireBytes = 0;
  sim::FrameParser replies(sim::FrameKind::Reply);
  const auto exchange = [&](std::uint8_t command, const std::vector<std::uint8_t>& payload) {
    const std::vector<std::uint8_t> request = sim::BuildRequestFrame(command, payload);
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
      return false;
    }
    wireBytes += request.size();
    std::array<std::uint8_t, 512> chunk{};
    for (pollfd ready{fd, POLLIN, 0}; poll(&ready, 1, 1000) == 1;) {
      const ssize_t n = read(fd, chunk.data(), chunk.size());
      for (ssize_t i = 0; i < n; ++i) {
        if (replies.Feed(chunk[i]) != sim::ParseEvent::Frame) continue;
        wireBytes += replies.frame().frameSize;
        return replies.frame().status == 0;
      }
      if (n <= 0) return false;
    }
    return false;
  };

  ok = ok && exchange(sim::COMMAND_IDENTIFY, {});
  for (std::uint32_t k = 0; ok && k < SECTORS; ++k) {
    std::vector<std::uint8_t> payload = AddressPayload(k * SECTOR_BYTES);
    payload.resize(payload.size() + SECTOR_BYTES, 0xFF);
    ok = exchange(sim::COMMAND_WRITE_BLOCK, payload);
  }
  for (std::uint32_t k = 0; ok && k < SECTORS; ++k) {
    std::vector<std::uint8_t> payload = AddressPayload(READ_BACK_OFFSET + k * SECTOR_BYTES);
    payload.insert(payload.end(), {SECTOR_BYTES >> 8, SECTOR_BYTES & 0xFF});
    ok = exchange(sim::COMMAND_READ_BLOCK, payload);
  }
  const double wall = SecondsSince(start);
  if (fd >= 0) close(fd);
  return ok ? std::optional<double>(wall) : std::nullopt;
}

constexpr int STATION_BAUD = 115200;

// The Nym sample into `drives` drive-sims (paced at 115200 baud or not) by
// kelvane-station, or into one by kelvane; nothing unless every drive
// verified.
std::optional<LoadRun> RunSample(bool station, int drives, bool paced) {
  std::vector<std::unique_ptr<ChildProcess>> sims;
  std::vector<std::string> argv = {station ? STATION_BIN : KELVANE_BIN};
  for (int i = 0; i < drives; ++i) {
    std::vector<std::string> args = {DRIVE_SIM_BIN, "--family", "nym"};
    if (paced) args.insert(args.end(), {"--pace", "--baud", std::to_string(STATION_BAUD)});
    sims.push_back(std::make_unique<ChildProcess>(args));
    const std::string port = PortOf(*sims.back());
    if (port.empty()) return std::nullopt;
    argv.push_back("/c" + port);
  }
  argv.insert(argv.end(), {"/b" + std::to_string(STATION_BAUD), NYM_SAMPLE});
  const Clock::time_point start = Clock::now();
  ChildProcess run(argv);
  if (!run.Wait(RUN_LIMIT) || run.status() != 0) return std::nullopt;
  return LoadRun{SecondsSince(start), run.cpuSeconds(), run.peakRssKiB()};
}

// The station's figures as printed; nothing after a run that did not verify.
std::optional<std::string> RunStationFigures(int runs) {
  constexpr int DRIVES = 8;
  std::vector<double> oneWall, oneCpu, stationWall, stationCpu, manyRss;
  for (int r = 0; r < runs; ++r) {
    const std::optional<LoadRun> one = RunSample(false, 1, true);
    const std::optional<LoadRun> station = RunSample(true, DRIVES, true);
    const std::optional<LoadRun> many = RunSample(true, 64, false);
    if (!one || !station || !many) {
      std::fprintf(stderr, "kelvane_bench: a station run did not verify every drive\n");
      return std::nullopt;
    }
    oneWall.push_back(one->wallSeconds);
    oneCpu.push_back(one->cpuSeconds);
    stationWall.push_back(station->wallSeconds);
    stationCpu.push_back(station->cpuSeconds / DRIVES);
    manyRss.push_back(static_cast<double>(many->peakRssKiB));
  }
  const double wall = Median(stationWall) / Median(oneWall);
  const double cpu = Median(stationCpu) / Median(oneCpu);
  std::string text;
  char line[200];
  const auto print = [&](auto... arguments) {
    std::snprintf(line, sizeof line, arguments...);
    text += line;
  };
  print("Station figures (medians of %d runs), the Nym sample at %d baud\n", runs, STATION_BAUD);
  print("  kelvane into 1 paced drive: %.3f s, CPU %.1f ms\n", Median(oneWall),
        Median(oneCpu) * 1e3);
  print("  kelvane-station into %d paced drives: %.3f s = %.3f x kelvane's  (goal <= 1.15: %s)\n",
        DRIVES, Median(stationWall), wall, Goal(wall <= 1.15));
  print("  station CPU per drive: %.1f ms = %.3f x kelvane's  (goal <= 1: %s)\n",
        Median(stationCpu) * 1e3, cpu, Goal(cpu <= 1));
  print("  station peak memory (max RSS), 64 unpaced drives: %.0f KiB  (goal < 65536: %s)\n",
        Median(manyRss), Goal(Median(manyRss) < 65536));
  return text;
}

int Run(int runs) {
  std::vector<double> cpu, libraryCpu, rss, pacedWall, pacedCpu, bareWall, backupCpu, oursMd5,
      opensslMd5;
  std::size_t wireBytes = 0, backupWireBytes = 0;
  // The three loads take turns, so that a burst of other work on the machine
  // spreads over every figure instead of spoiling one.
  for (int r = 0; r < runs; ++r) {
    const std::optional<LoadRun> unpaced = RunLoader(false);
    const std::optional<LoadRun> library = RunLoader(false, true);
    const std::optional<LoadRun> paced = RunLoader(true);
    const std::optional<double> bare = RunBareClient(wireBytes);
    const std::optional<double> backup = RunBackup(backupWireBytes);
    if (!unpaced || !library || !paced || !bare || !backup) {
      std::fprintf(stderr, "kelvane_bench: a /d or /u run did not finish cleanly\n");
      return 1;
    }
    backupCpu.push_back(*backup);
    cpu.push_back(unpaced->cpuSeconds);
    libraryCpu.push_back(library->cpuSeconds);
    rss.push_back(static_cast<double>(unpaced->peakRssKiB));
    pacedWall.push_back(paced->wallSeconds);
    pacedCpu.push_back(paced->cpuSeconds);
    bareWall.push_back(*bare);
  }
  const std::optional<std::string> station = RunStationFigures(runs);
  if (!station) return 1;
  // Only now: a child forked while this process held the 64 MiB would be
  // charged for its pages and their copying until it runs the loader.
  std::vector<std::uint8_t> data(64u << 20);
  std::uint32_t x = 0x12345678;  // firmware-like bytes, without long runs
  for (std::uint8_t& b : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  std::array<std::uint8_t, 16> ours{}, theirs{};
  for (int r = 0; r < runs; ++r) {
    Clock::time_point start = Clock::now();
    Md5Digest(ours, data);
    oursMd5.push_back(SecondsSince(start));
    start = Clock::now();
    EVP_Digest(data.data(), data.size(), theirs.data(), nullptr, EVP_md5(), nullptr);
    opensslMd5.push_back(SecondsSince(start));
    // Our digest must be the standard one, or its speed means nothing.
    if (ours != theirs) {
      std::fprintf(stderr, "kelvane_bench: Md5Digest differs from OpenSSL's MD5\n");
      return 1;
    }
  }

  const double wire = static_cast<double>(wireBytes) * 10.0 / LINE_BAUD;
  const double cpuShare = 100.0 * Median(cpu) / wire;
  const double paced = Median(pacedWall) / wire;
  const double bare = Median(bareWall) / wire;
  const double md5 = Median(opensslMd5) / Median(oursMd5);
  std::printf("Load figures (medians of %d runs)\n", runs);
  std::printf("  /d run on the wire: %zu bytes at %d baud, 10 bits a byte = %.3f s\n", wireBytes,
              LINE_BAUD, wire);
  std::printf(
      "  loader CPU (user+system), unpaced drive-sim: %.1f ms = %.2f %% of wire time"
      "  (goal <= 0.5 %%: %s)\n",
      Median(cpu) * 1e3, cpuShare, Goal(cpuShare <= 0.5));
  std::printf(
      "  wall time, drive-sim paced at %d baud: %.3f s = %.4f x wire time"
      "  (goal <= 1.03: %s)\n",
      LINE_BAUD, Median(pacedWall), paced, Goal(paced <= 1.03));
  std::printf("  loader CPU (user+system) in the paced run: %.1f ms = %.2f %% of wire time\n",
              Median(pacedCpu) * 1e3, 100.0 * Median(pacedCpu) / wire);
  std::printf(
      "  the same frames from a bare in-process client: %.4f x wire time"
      "  (drive-sim's pacing alone)\n",
      bare);
  std::printf("  loader's paced wall time over the bare client's: %.4f x  (goal <= 1.03: %s)\n",
              paced / bare, Goal(paced / bare <= 1.03));
  std::printf(
      "  Md5Digest on 64 MiB: %.0f MiB/s, OpenSSL MD5 %.0f MiB/s: %.3f x"
      "  (goal >= 0.85: %s)\n",
      64 / Median(oursMd5), 64 / Median(opensslMd5), md5, Goal(md5 >= 0.85));
  std::printf("  loader peak memory (max RSS) of the /d run: %.0f KiB\n", Median(rss));
  const double library = Median(libraryCpu) / Median(cpu);
  std::printf(
      "  the same clear through libkelvane (kelvane_run): CPU %.1f ms = %.3f x kelvane's"
      "  (goal <= 1.05: %s)\n",
      Median(libraryCpu) * 1e3, library, Goal(library <= 1.05));
  const double backupWire = static_cast<double>(backupWireBytes) * 10.0 / LINE_BAUD;
  const double backupShare = 100.0 * Median(backupCpu) / backupWire;
  std::printf(
      "  full-area Nym backup (/u, 1000 sector reads): %zu bytes on the wire = %.3f s;"
      " loader CPU %.1f ms = %.2f %% of wire time  (goal <= 1 %%: %s)\n",
      backupWireBytes, backupWire, Median(backupCpu) * 1e3, backupShare, Goal(backupShare <= 1));
  std::fputs(station->c_str(), stdout);
  return 0;
}

}  // namespace

}  // namespace kelvane::bench

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  if (argc > 2 || runs < 1) {
    std::fprintf(stderr, "Usage: kelvane_bench [runs]\n");
    return 2;
  }
  return kelvane::bench::Run(runs);
}
