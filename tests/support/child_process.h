#pragma once

// A program run by a test or a benchmark (kelvane, drive-sim, a reference
// tool): standard input empty, standard output and error kept in memory or
// in files, every wait bounded, and dead with the process that started it,
// so a hanging program fails a test instead of stalling the suite.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::testing {

struct ChildOptions {
  std::string workingDirectory;  // the caller's when empty
  std::string stdoutFile;        // in memory when empty
  std::string stderrFile;
};

class ChildProcess {
 public:
  // argv[0] is searched on PATH when it holds no '/'.
  explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
  // Kills it, with its process group, when it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Empty when it started; else why not.
  const std::string& startError() const { return startError_; }
  bool Running();
  // False when it still runs after `limit`.
  bool Wait(std::chrono::milliseconds limit);
  // False when its standard output does not hold `text` within `limit`.
  bool WaitForStdout(std::string_view text, std::chrono::milliseconds limit);
  void Signal(int signalNumber);
  void Kill();

  // Exit status, or 128 + the signal's number; -1 while it runs.
  int status() const { return status_; }
  std::string Stdout() const;
  std::string Stderr() const;
  // The kernel's account once it ended: user + system time, peak memory.
  double cpuSeconds() const { return cpuSeconds_; }
  long peakRssKiB() const { return peakRssKiB_; }

 private:
  void Reaped(int waitStatus, const ::rusage& usage);

  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  int status_ = -1;
  double cpuSeconds_ = 0;
  long peakRssKiB_ = 0;
  std::string startError_;
};

}  // namespace kelvane::testing
