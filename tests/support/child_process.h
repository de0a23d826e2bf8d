#pragma once

// A program run by a test or a benchmark: standard input empty, output kept
// in memory, every wait bounded, and dead with the process that started it,
// so a hanging program fails a test instead of stalling the suite.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::testing {

class ChildProcess {
 public:
  // argv[0] is searched on PATH when it holds no '/'; one that cannot be run
  // ends with status 127, saying why on its standard error.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& directory = "");
  ~ChildProcess();  // kills it and its process group
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  const std::string& startError() const { return startError_; }  // empty: it was forked
  // False when it still runs, or its standard output lacks `text`, after `limit`.
  bool Wait(std::chrono::milliseconds limit) { return WaitFor(nullptr, limit); }
  bool WaitForStdout(std::string_view text, std::chrono::milliseconds limit) {
    return WaitFor(&text, limit);
  }
  void Signal(int signalNumber);
  void Kill();

  int status() const { return status_; }  // 128 + signal when killed; -1 while it runs
  std::string Stdout() const { return Contents(out_); }
  std::string Stderr() const { return Contents(err_); }
  // The kernel's account once it ended: user + system time, peak memory.
  double cpuSeconds() const { return cpuSeconds_; }
  long peakRssKiB() const { return peakRssKiB_; }

 private:
  static std::string Contents(int fd);
  bool Reap(bool block);  // true once it ended (and was counted)
  bool WaitFor(const std::string_view* text, std::chrono::milliseconds limit);

  int pid_ = -1, out_ = -1, err_ = -1, status_ = -1;
  double cpuSeconds_ = 0;
  long peakRssKiB_ = 0;
  std::string startError_;
};

}  // namespace kelvane::testing
