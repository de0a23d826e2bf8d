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

namespace kelvane::testing {

std::string ChildProcess::Contents(int fd) {
  std::string text;
  char chunk[65536];
  for (ssize_t n; fd >= 0 && (n = pread(fd, chunk, sizeof chunk, off_t(text.size()))) > 0;)
    text.append(chunk, std::size_t(n));
  return text;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& directory) {
  // Everything the child needs is made before fork: between fork and exec
  // only async-signal-safe calls are allowed.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string failed = "cannot run " + (argv.empty() ? "" : argv[0]) + "\n";
  out_ = memfd_create("stdout", MFD_CLOEXEC);
  err_ = memfd_create("stderr", MFD_CLOEXEC);
  const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  pid_ = argv.empty() || out_ < 0 || err_ < 0 || nothing < 0 ? -1 : fork();
  if (pid_ == 0) {
    // Die with the test, so that no drive-sim or loader outlives one that
    // was killed; a group of its own, so that Kill reaches its children too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    dup2(nothing, 0);
    dup2(out_, 1);
    dup2(err_, 2);
    if (directory.empty() || chdir(directory.c_str()) == 0) execvp(args[0], args.data());
    if (write(2, failed.data(), failed.size()) < 0) _exit(126);
    _exit(127);
  }
  if (pid_ < 0) startError_ = std::string("cannot start a child: ") + std::strerror(errno);
  if (nothing >= 0) close(nothing);
}

ChildProcess::~ChildProcess() {
  Kill();
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

bool ChildProcess::Reap(bool block) {
  if (pid_ <= 0) return true;
  int waitStatus = 0;
  ::rusage usage{};
  pid_t done;
  do done = wait4(pid_, &waitStatus, block ? 0 : WNOHANG, &usage);
  while (done < 0 && errno == EINTR);
  if (done == 0) return false;
  status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  cpuSeconds_ = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  peakRssKiB_ = usage.ru_maxrss;
  pid_ = -1;
  return true;
}

bool ChildProcess::WaitFor(const std::string_view* text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const bool ended = Reap(false);  // one more look at the output after it ended
    if (text != nullptr ? Stdout().find(*text) != std::string::npos : ended) return true;
    if (ended || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ChildProcess::Signal(int signalNumber) {
  if (pid_ > 0) kill(pid_, signalNumber);
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  Reap(true);
}

}  // namespace kelvane::testing
