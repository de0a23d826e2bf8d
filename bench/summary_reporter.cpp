#include "bench/summary_reporter.h"

#include <cstdio>
#include <ostream>

#include "bench/wire_load.h"

namespace kelvane::bench {

namespace {

// The goals a load must meet at 921600 baud.
constexpr double CPU_GOAL_PERCENT = 1.0;
constexpr double WALL_GOAL_RATIO = 1.03;
constexpr double MD5_GOAL_RATIO = 0.85;

const char* Verdict(bool met) {
  return met ? "met" : "NOT MET";
}

}  // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    const std::string name = run.run_name.function_name;
    Figures& figures = figures_[name];
    if (run.error_occurred) {
      figures.error = run.error_message;
      continue;
    }
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
    if (!median && !single) continue;
    figures.samples = static_cast<int>(run.repetitions);
    for (const auto& [counter, value] : run.counters) figures.counters[counter] = value.value;
  }
}

void SummaryReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::ostream& out = GetOutputStream();
  char line[256];
  const auto print = [&](const char* format, auto... values) {
    std::snprintf(line, sizeof line, format, values...);
    out << line;
  };
  const auto find = [&](const char* name, const char* counter, double& value) {
    const auto it = figures_.find(name);
    if (it == figures_.end()) return false;
    if (!it->second.error.empty()) {
      print("  %s: %s\n", name, it->second.error.c_str());
      return false;
    }
    const auto c = it->second.counters.find(counter);
    if (c == it->second.counters.end()) return false;
    value = c->second;
    return true;
  };

  const std::size_t wireBytes = ClearRunWireBytes();
  const double wire = WireSeconds(wireBytes, LINE_BAUD);
  out << "\nLoad figures (medians of the repetitions above)\n";
  print("  /d run on the wire: %zu bytes at %d baud, 10 bits a byte = %.3f s\n", wireBytes,
        LINE_BAUD, wire);
  double value = 0;
  double other = 0;
  if (find(CLEAR_UNPACED, CPU_PERCENT_OF_WIRE, value) &&
      find(CLEAR_UNPACED, LOADER_CPU_MS, other)) {
    print(
        "  loader CPU (user+system), unpaced drive-sim: %.1f ms = %.2f %% of wire time"
        "  (goal <= %.0f %%: %s)\n",
        other, value, CPU_GOAL_PERCENT, Verdict(value <= CPU_GOAL_PERCENT));
  }
  if (find(CLEAR_PACED, WALL_PER_WIRE, value)) {
    print(
        "  wall time, drive-sim paced at %d baud: %.3f s = %.4f x wire time"
        "  (goal <= %.2f: %s)\n",
        LINE_BAUD, value * wire, value, WALL_GOAL_RATIO, Verdict(value <= WALL_GOAL_RATIO));
  }
  if (find(BARE_PACED, WALL_PER_WIRE, value)) {
    print(
        "  the same frames from a bare in-process client: %.4f x wire time"
        "  (drive-sim's pacing alone)\n",
        value);
    // What is left once the simulated line's own overshoot is taken out.
    if (find(CLEAR_PACED, WALL_PER_WIRE, other) && value > 0) {
      print("  loader's paced wall time over the bare client's: %.4f x  (goal <= %.2f: %s)\n",
            other / value, WALL_GOAL_RATIO, Verdict(other / value <= WALL_GOAL_RATIO));
    }
  }
  if (find(MD5_OURS, BYTES_PER_SECOND, value) && find(MD5_OPENSSL, BYTES_PER_SECOND, other) &&
      other > 0) {
    const double ratio = value / other;
    print(
        "  Md5Digest on 64 MiB: %.0f MiB/s, OpenSSL MD5 %.0f MiB/s: %.3f x"
        "  (goal >= %.2f: %s)\n",
        value / (1 << 20), other / (1 << 20), ratio, MD5_GOAL_RATIO,
        Verdict(ratio >= MD5_GOAL_RATIO));
  }
  if (find(CLEAR_UNPACED, PEAK_RSS_KIB, value)) {
    print("  loader peak memory (max RSS) of the /d run: %.0f KiB\n", value);
  }
  out.flush();
}

}  // namespace kelvane::bench
