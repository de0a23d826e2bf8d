#pragma once

// Child processes for the benchmarks: the real kelvane and drive-sim programs,
// timed from spawn to exit, with the kernel's account of their CPU time and
// peak memory (wait4), which is what a user of the loader pays.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::bench {

using Clock = std::chrono::steady_clock;

struct ChildUsage {
  bool ended = false;  // it exited within the time allowed
  int exitStatus = -1;
  double wallSeconds = 0;  // spawn to exit
  double cpuSeconds = 0;   // user + system
  long peakRssKiB = 0;     // its own high-water mark of resident memory
};

// Where a child's standard output goes.
struct StdoutTo {
  std::string file;   // this file, created or truncated, when not empty
  bool pipe = false;  // otherwise a pipe we read, or else /dev/null
};

class ChildProcess {
 public:
  static std::optional<ChildProcess> Spawn(const std::vector<std::string>& argv,
                                           const StdoutTo& out, std::string& error);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // A child still running is stopped (SIGTERM, then SIGKILL) and reaped.
  ~ChildProcess();

  // One line of its standard output (pipe only), without the newline;
  // nothing if the line does not come within `limit`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  // Waits at most `limit` for the child to exit and reaps it.
  ChildUsage Wait(std::chrono::milliseconds limit);
  // SIGTERM, and Wait.
  ChildUsage Stop(std::chrono::milliseconds limit);

 private:
  ChildProcess(pid_t pid, int pidfd, int outPipe, Clock::time_point started)
      : pid_(pid), pidfd_(pidfd), outPipe_(outPipe), started_(started) {}

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int outPipe_ = -1;
  Clock::time_point started_;
};

}  // namespace kelvane::bench
