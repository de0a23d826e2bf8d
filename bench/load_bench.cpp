// What a load costs: the loader's own CPU and memory for a whole-flash clear
// against drive-sim, its wall time against a drive-sim paced like a real
// line, and our MD5 beside OpenSSL's. Run with bench/run.sh.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "bench/summary_reporter.h"
#include "bench/wire_load.h"
#include "image/md5_digest.h"

namespace kelvane::bench {

namespace {

constexpr std::size_t MD5_DATA_BYTES = 64u << 20;

double WireTime() {
  return WireSeconds(ClearRunWireBytes(), LINE_BAUD);
}

void ReportLoad(benchmark::State& state, const LoadFigures& figures) {
  const double wire = WireTime();
  state.counters[LOADER_CPU_MS] = figures.cpuSeconds * 1e3;
  state.counters[CPU_PERCENT_OF_WIRE] = 100.0 * figures.cpuSeconds / wire;
  state.counters[WALL_PER_WIRE] = figures.wallSeconds / wire;
  state.counters[PEAK_RSS_KIB] = static_cast<double>(figures.peakRssKiB);
}

// kelvane /d against a drive-sim that answers at once: all that is left of
// the wire time is the two programs' own work, and the loader's share of it
// is what the kernel accounts to its process.
void BM_ClearLoadUnpaced(benchmark::State& state) {
  for (auto _ : state) {
    const LoadFigures figures = RunClearLoad(false);
    if (!figures.ok) {
      state.SkipWithError(figures.failure.c_str());
      break;
    }
    state.SetIterationTime(figures.wallSeconds);
    ReportLoad(state, figures);
  }
}

// kelvane /d against a drive-sim that holds every reply back for the wire
// time of its request and reply at 921600 baud.
void BM_ClearLoadPaced(benchmark::State& state) {
  for (auto _ : state) {
    const LoadFigures figures = RunClearLoad(true);
    if (!figures.ok) {
      state.SkipWithError(figures.failure.c_str());
      break;
    }
    state.SetIterationTime(figures.wallSeconds);
    ReportLoad(state, figures);
  }
}

// The same paced exchanges without the loader: what is left is drive-sim's.
void BM_BareExchangesPaced(benchmark::State& state) {
  for (auto _ : state) {
    const LoadFigures figures = RunBareClearExchanges(true);
    if (!figures.ok) {
      state.SkipWithError(figures.failure.c_str());
      break;
    }
    state.SetIterationTime(figures.wallSeconds);
    state.counters[WALL_PER_WIRE] = figures.wallSeconds / WireTime();
  }
}

// Firmware-like bytes: no long runs, the same on every run.
const std::vector<std::uint8_t>& Md5Data() {
  static const std::vector<std::uint8_t> data = [] {
    std::vector<std::uint8_t> bytes(MD5_DATA_BYTES);
    std::uint32_t x = 0x12345678;
    for (std::uint8_t& b : bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<std::uint8_t>(x);
    }
    return bytes;
  }();
  return data;
}

void BM_Md5Digest(benchmark::State& state) {
  const std::vector<std::uint8_t>& data = Md5Data();
  std::array<std::uint8_t, 16> digest{};
  for (auto _ : state) {
    Md5Digest(digest, data);
    benchmark::DoNotOptimize(digest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.size()));
}

void BM_OpenSslMd5(benchmark::State& state) {
  const std::vector<std::uint8_t>& data = Md5Data();
  std::array<std::uint8_t, 16> digest{};
  for (auto _ : state) {
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
      state.SkipWithError("OpenSSL refused MD5");
      break;
    }
    benchmark::DoNotOptimize(digest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.size()));
}

// Our digest must be the standard one, or its speed means nothing.
bool DigestsAgree() {
  const std::vector<std::uint8_t>& data = Md5Data();
  std::array<std::uint8_t, 16> ours{};
  std::array<std::uint8_t, 16> theirs{};
  unsigned int length = 0;
  Md5Digest(ours, data);
  return EVP_Digest(data.data(), data.size(), theirs.data(), &length, EVP_md5(), nullptr) == 1 &&
         std::memcmp(ours.data(), theirs.data(), ours.size()) == 0;
}

}  // namespace

}  // namespace kelvane::bench

// One whole load per iteration, so each repetition is one sample.
BENCHMARK(kelvane::bench::BM_ClearLoadUnpaced)
    ->Name(kelvane::bench::CLEAR_UNPACED)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(kelvane::bench::BM_ClearLoadPaced)
    ->Name(kelvane::bench::CLEAR_PACED)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(kelvane::bench::BM_BareExchangesPaced)
    ->Name(kelvane::bench::BARE_PACED)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(kelvane::bench::BM_Md5Digest)
    ->Name(kelvane::bench::MD5_OURS)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(kelvane::bench::BM_OpenSslMd5)
    ->Name(kelvane::bench::MD5_OPENSSL)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // The machine is shared: every figure is the median of several samples
  // unless the command line says otherwise (later flags win).
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  std::string aggregatesOnly = "--benchmark_report_aggregates_only=true";
  args.insert(args.begin() + 1, {repetitions.data(), aggregatesOnly.data()});
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  if (!kelvane::bench::DigestsAgree()) {
    std::fprintf(stderr, "Md5Digest differs from OpenSSL's MD5 on the benchmark data\n");
    return 1;
  }
  kelvane::bench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
