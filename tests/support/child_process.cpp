#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace kelvane::testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto POLL_STEP = std::chrono::milliseconds(2);

// A named file when asked for, else an anonymous one in memory.
int OutputFd(const std::string& file, const char* name) {
  if (!file.empty()) return open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return memfd_create(name, MFD_CLOEXEC);
}

std::string ContentsOf(int fd) {
  std::string text;
  if (fd < 0) return text;
  char chunk[65536];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
  // Everything the child needs is made before fork: between fork and exec
  // only async-signal-safe calls are allowed.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* directory =
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

  stdoutFd_ = OutputFd(options.stdoutFile, "stdout");
  stderrFd_ = OutputFd(options.stderrFile, "stderr");
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2] = {-1, -1};
  if (argv.empty() || stdoutFd_ < 0 || stderrFd_ < 0 || nullFd < 0 ||
      pipe2(report, O_CLOEXEC) != 0) {
    startError_ = std::string("cannot prepare the child: ") + std::strerror(errno);
    if (nullFd >= 0) close(nullFd);
    return;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Die with the test, so that no drive-sim or loader outlives one that
    // was killed; a group of its own, so that Kill reaches its children too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    dup2(nullFd, 0);
    dup2(stdoutFd_, 1);
    dup2(stderrFd_, 2);
    int error = 0;
    if (directory != nullptr && chdir(directory) != 0) {
      error = errno;
    } else {
      execvpe(args[0], args.data(), environ);
      error = errno;
    }
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(nullFd);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    startError_ = std::string("fork: ") + std::strerror(errno);
    return;
  }
  pid_ = pid;
  // The report pipe closes at exec; an errno arrives only when exec failed.
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    Wait(std::chrono::seconds(5));
    startError_ = "cannot run " + argv[0] + ": " + std::strerror(error);
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  if (stdoutFd_ >= 0) close(stdoutFd_);
  if (stderrFd_ >= 0) close(stderrFd_);
}

void ChildProcess::Reaped(int waitStatus, const ::rusage& usage) {
  status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  cpuSeconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  peakRssKiB_ = usage.ru_maxrss;
  pid_ = -1;
}

bool ChildProcess::Running() {
  if (pid_ < 0) return false;
  int waitStatus = 0;
  ::rusage usage{};
  const pid_t done = wait4(pid_, &waitStatus, WNOHANG, &usage);
  if (done == 0 || (done < 0 && errno == EINTR)) return true;
  if (done == pid_) {
    Reaped(waitStatus, usage);
  } else {
    pid_ = -1;
  }
  return false;
}

bool ChildProcess::Wait(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Running()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(POLL_STEP);
  }
  return true;
}

bool ChildProcess::WaitForStdout(std::string_view text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  bool running = true;
  while (Stdout().find(text) == std::string::npos) {
    if (!running || Clock::now() >= deadline) return false;
    running = Running();  // one more look after it ended
    std::this_thread::sleep_for(POLL_STEP);
  }
  return true;
}

void ChildProcess::Signal(int signalNumber) {
  if (pid_ > 0) kill(pid_, signalNumber);
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int waitStatus = 0;
  ::rusage usage{};
  while (wait4(pid_, &waitStatus, 0, &usage) < 0 && errno == EINTR) {
  }
  Reaped(waitStatus, usage);
}

std::string ChildProcess::Stdout() const {
  return ContentsOf(stdoutFd_);
}

std::string ChildProcess::Stderr() const {
  return ContentsOf(stderrFd_);
}

}  // namespace kelvane::testing
