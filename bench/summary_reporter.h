#pragma once

// The console report of Google Benchmark, followed by the few figures that
// matter for a load, each beside its goal.

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace kelvane::bench {

// Benchmark names and counter names that the summary reads.
inline constexpr const char* CLEAR_UNPACED = "BM_ClearLoadUnpaced";
inline constexpr const char* CLEAR_PACED = "BM_ClearLoadPaced";
inline constexpr const char* BARE_PACED = "BM_BareExchangesPaced";
inline constexpr const char* MD5_OURS = "BM_Md5Digest";
inline constexpr const char* MD5_OPENSSL = "BM_OpenSslMd5";

inline constexpr const char* LOADER_CPU_MS = "loader_cpu_ms";
inline constexpr const char* CPU_PERCENT_OF_WIRE = "cpu_pct_of_wire";
inline constexpr const char* WALL_PER_WIRE = "wall_per_wire";
inline constexpr const char* PEAK_RSS_KIB = "peak_rss_KiB";
inline constexpr const char* BYTES_PER_SECOND = "bytes_per_second";

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Figures {
    std::map<std::string, double> counters;
    int samples = 0;
    std::string error;
  };
  // Medians when the runs were repeated, else the single run.
  std::map<std::string, Figures> figures_;
};

}  // namespace kelvane::bench
