#pragma once

// A program run by a test or a benchmark: standard input empty, standard
// output and error kept in memory, every wait bounded, and dead with the
// process that started it, so a hanging program fails a test instead of
// stalling the suite.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::testing {

class ChildProcess {
 public:
  // argv[0] is searched on PATH when it holds no '/'. A program that cannot
  // be run ends with status 127, saying why on its standard error.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& directory = "");
  // Kills it, with its process group, when it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  const std::string& startError() const { return startError_; }  // empty: it was forked
  // False when it still runs after `limit`.
  bool Wait(std::chrono::milliseconds limit);
  // False when its standard output does not hold `text` within `limit`.
  bool WaitForStdout(std::string_view text, std::chrono::milliseconds limit);
  void Signal(int signalNumber);
  void Kill();

  // Exit status, or 128 + the signal's number; -1 while it runs.
  int status() const { return status_; }
  std::string Stdout() const { return Contents(out_); }
  std::string Stderr() const { return Contents(err_); }
  // The kernel's account once it ended: user + system time, peak memory.
  double cpuSeconds() const { return cpuSeconds_; }
  long peakRssKiB() const { return peakRssKiB_; }

 private:
  static std::string Contents(int fd);
  bool Reap(bool block);

  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int status_ = -1;
  double cpuSeconds_ = 0;
  long peakRssKiB_ = 0;
  std::string startError_;
};

}  // namespace kelvane::testing
