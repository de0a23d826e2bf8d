#include "bench/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace kelvane::bench {

namespace {

int OpenProcessFd(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// The child's peak resident memory so far, from the kernel's high-water mark
// of its address space; 0 once it has exited.
long PeakResidentKiB(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  std::FILE* status = std::fopen(path, "r");
  if (status == nullptr) return 0;
  long kib = 0;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

// How often a waited-for child's memory high-water mark is read.
constexpr std::chrono::milliseconds PEAK_SAMPLE_PERIOD{5};

}  // namespace

std::optional<ChildProcess> ChildProcess::Spawn(const std::vector<std::string>& argv,
                                                const StdoutTo& out, std::string& error) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (out.pipe && pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out.pipe) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else if (!out.file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, out.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  const Clock::time_point started = Clock::now();
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (out.pipe) close(pipeFds[1]);
  if (spawned != 0) {
    error = "cannot run " + argv[0] + ": " + std::strerror(spawned);
    if (out.pipe) close(pipeFds[0]);
    return std::nullopt;
  }
  const int pidfd = OpenProcessFd(pid);
  if (pidfd < 0) {
    error = std::string("pidfd_open: ") + std::strerror(errno);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (out.pipe) close(pipeFds[0]);
    return std::nullopt;
  }
  return ChildProcess(pid, pidfd, out.pipe ? pipeFds[0] : -1, started);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), outPipe_(other.outPipe_), started_(other.started_) {
  other.pid_ = -1;
  other.pidfd_ = -1;
  other.outPipe_ = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    if (!Stop(std::chrono::seconds(5)).ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (pidfd_ >= 0) close(pidfd_);
  if (outPipe_ >= 0) close(outPipe_);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
  if (outPipe_ < 0) return std::nullopt;
  const Clock::time_point deadline = Clock::now() + limit;
  std::string line;
  for (;;) {
    pollfd ready{outPipe_, POLLIN, 0};
    const int n = poll(&ready, 1, MillisecondsLeft(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    char c = 0;
    const ssize_t got = read(outPipe_, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1) return std::nullopt;
    if (c == '\n') return line;
    line += c;
  }
}

ChildUsage ChildProcess::Wait(std::chrono::milliseconds limit) {
  ChildUsage usage;
  if (pid_ <= 0) return usage;
  // The pidfd turns readable the moment the child exits, so the wall time is
  // not rounded up to some polling period.
  // wait4's ru_maxrss is no use here: a child started with vfork, as
  // posix_spawn does, inherits at exec the high-water mark of the address
  // space it borrowed, ours, 64 MiB of digest data and all. So the child's own
  // mark is read while it runs; it only grows, and the last reading comes
  // within one period of the exit.
  const Clock::time_point deadline = Clock::now() + limit;
  long peak = 0;
  for (;;) {
    pollfd ready{pidfd_, POLLIN, 0};
    const int wait =
        std::min<int>(MillisecondsLeft(deadline), static_cast<int>(PEAK_SAMPLE_PERIOD.count()));
    const int n = poll(&ready, 1, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return usage;
    if (n > 0) break;
    if (Clock::now() >= deadline) return usage;
    peak = std::max(peak, PeakResidentKiB(pid_));
  }
  usage.wallSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
  int status = 0;
  rusage used{};
  if (wait4(pid_, &status, 0, &used) != pid_) return usage;
  pid_ = -1;
  usage.ended = true;
  usage.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  usage.cpuSeconds = Seconds(used.ru_utime) + Seconds(used.ru_stime);
  usage.peakRssKiB = peak;
  return usage;
}

ChildUsage ChildProcess::Stop(std::chrono::milliseconds limit) {
  if (pid_ > 0) kill(pid_, SIGTERM);
  return Wait(limit);
}

}  // namespace kelvane::bench
