#pragma once

// A program run by a test or a benchmark: the real kelvane, drive-sim, or a
// reference tool. Its standard output and error are kept (in memory, or in
// files when asked), its standard input is empty, every wait is bounded, and
// it dies with the process that started it, so a hanging program fails a
// test instead of stalling the suite.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::testing {

struct ChildOptions {
  std::string workingDirectory;  // the caller's when empty
  std::string stdoutFile;        // kept in memory when empty
  std::string stderrFile;
};

class ChildProcess {
 public:
  // argv[0] is searched on PATH when it holds no '/'.
  explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
  // One still running is killed with its whole process group.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Empty when it started; else why not (the program missing, say).
  const std::string& startError() const { return startError_; }

  bool Running();
  // Waits at most `limit` for it to end; false while it still runs.
  bool Wait(std::chrono::milliseconds limit);
  // Waits at most `limit` until its standard output holds `text`.
  bool WaitForStdout(std::string_view text, std::chrono::milliseconds limit);
  void Signal(int signalNumber);
  // SIGKILL to its process group, then reaps it.
  void Kill();

  // Exit status, 128 + the signal's number when a signal ended it, -1 while
  // it runs.
  int status() const { return status_; }
  // What it wrote so far.
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
