// The real drive-sim program on its own pseudo-terminal: what a loader sees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/drive_monitor.h"
#include "sim/identity.h"
#include "sim/reply_frame.h"
#include "test_support.h"

extern char** environ;

namespace kelvane::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// drive-sim is built next to the test binary (bin/), or in ../bin of it.
std::string DriveSimProgram() {
  const fs::path self = fs::read_symlink("/proc/self/exe").parent_path();
  for (const fs::path& candidate : {self / "drive-sim", self / ".." / "bin" / "drive-sim"}) {
    if (fs::exists(candidate)) return candidate.string();
  }
  return (self / "drive-sim").string();
}

using testing::PseudoTerminalPair;
using testing::RequestFrameBytes;
using testing::TempDir;
using testing::WriteFile;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// One drive-sim process, stopped and reaped by the destructor if need be.
class SimProcess {
 public:
  SimProcess(const TempDir& dir, std::vector<std::string> arguments) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, dir.File("stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    stderrPath_ = dir.File("stderr.txt");
    arguments.insert(arguments.begin(), DriveSimProgram());
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
  }

  // The first line drive-sim prints: its pseudo-terminal's path.
  std::string FirstLine() {
    std::string line;
    char c = 0;
    while (WaitReadable(stdout_, 10s) && read(stdout_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  std::string Stdout() {
    std::string text;
    char chunk[4096];
    ssize_t n = 0;
    while (WaitReadable(stdout_, 10s) && (n = read(stdout_, chunk, sizeof chunk)) > 0) {
      text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
  }
  std::string Stderr() const { return ReadText(stderrPath_); }

  void Signal(int number) { kill(pid_, number); }

  // The exit status, or -1 if it did not end within 10 s or died of a signal.
  int Wait() {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      WaitReadable(pidfd, 10s);
      close(pidfd);
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
    }
    return ready > 0;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string stderrPath_;
};

// The loader's end of the line.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void Send(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Up to `count` bytes, waiting at most `timeout` for each.
  Bytes Receive(std::size_t count, std::chrono::milliseconds timeout = 5000ms) {
    Bytes bytes;
    while (bytes.size() < count && SimProcess::WaitReadable(fd_, timeout)) {
      std::uint8_t chunk[512];
      const ssize_t n = read(fd_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }
  // True once the far end has hung up.
  bool HungUp(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    std::uint8_t byte = 0;
    return (p.revents & POLLHUP) != 0 || read(fd_, &byte, 1) <= 0;
  }

 private:
  int fd_;
};

Bytes NymWritePayload(std::uint32_t address, const Bytes& block) {
  Bytes payload = {static_cast<std::uint8_t>(address >> 24),
                   static_cast<std::uint8_t>(address >> 16),
                   static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
  payload.insert(payload.end(), block.begin(), block.end());
  return payload;
}

TEST(DriveSimProcess, ServesANymDriveAndSavesItsFlashOnTerm) {
  TempDir dir;
  SimProcess sim(dir, {"--link", dir.File("ttyDRIVE"), "--flash-out", dir.File("flash.bin"),
                       "--log", dir.File("log.txt"), "--capture", dir.File("capture.bin")});
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty()) << sim.Stderr();
  EXPECT_EQ(fs::read_symlink(dir.File("ttyDRIVE")).string(), path);
  Port port(path);
  ASSERT_TRUE(port.ok());

  Bytes sent;
  const auto send = [&](const Bytes& frame) {
    port.Send(frame);
    sent.insert(sent.end(), frame.begin(), frame.end());
  };
  send(RequestFrameBytes(0x10, {}));
  const Bytes identity = port.Receive(7 + 40 + 1);
  ASSERT_EQ(identity.size(), 48u);
  EXPECT_EQ(Bytes(identity.begin(), identity.begin() + 7),
            (Bytes{0xAA, 0x55, 0x28, 0x00, 0x10, 0x00, 0x38}));
  EXPECT_EQ(identity,
            BuildReplyFrame(0x10, 0, EncodeNymIdentity(DefaultIdentityFields(SimFamily::Nym))));

  Bytes block(256);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i ^ 0x5C);
  send(RequestFrameBytes(0x11, NymWritePayload(0x100, block)));
  EXPECT_EQ(port.Receive(7), (Bytes{0xAA, 0x55, 0x00, 0x00, 0x11, 0x00, 0x11}));

  Bytes spoilt = RequestFrameBytes(0x12, {0x00, 0x00, 0x21, 0x00, 0x01, 0x00});
  spoilt.back() ^= 0xFF;
  send(spoilt);  // dropped unanswered; the next request's reply comes first
  send(RequestFrameBytes(0x12, {0x00, 0x00, 0x21, 0x00, 0x01, 0x00}));
  EXPECT_EQ(port.Receive(7 + 256 + 1), BuildReplyFrame(0x12, 0, block));

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  const Bytes flash = ReadFile(dir.File("flash.bin"));
  ASSERT_EQ(flash.size(), 0x40800u);
  EXPECT_EQ(Bytes(flash.begin() + 0x2100, flash.begin() + 0x2200), block);
  EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF),
            0x40800 - 256 + std::count(block.begin(), block.end(), 0xFF));
  EXPECT_EQ(ReadText(dir.File("log.txt")),
            "IDENTIFY status 0\n"
            "WRITE 0x00000100 256 status 0\n"
            "BAD-PAYLOAD-CHECKSUM silent\n"
            "READ 0x00002100 256 status 0\n");
  EXPECT_EQ(ReadFile(dir.File("capture.bin")), sent);
  EXPECT_FALSE(fs::is_symlink(dir.File("ttyDRIVE"))) << "--link is removed on exit";
}

TEST(DriveSimProcess, FlashInIsServedAndSavedBackOnInt) {
  TempDir dir;
  Bytes image(0x300);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 3);
  WriteFile(dir.File("in.bin"), image);
  SimProcess sim(dir, {"--family", "tl3xx", "--flash-in", dir.File("in.bin"), "--flash-out",
                       dir.File("out.bin")});
  Port port(sim.FirstLine());
  ASSERT_TRUE(port.ok()) << sim.Stderr();
  port.Send(RequestFrameBytes(0x12, {0x80, 0x01, 0x00, 0x00, 0x80, 0x00}));
  EXPECT_EQ(port.Receive(7 + 128 + 1),
            BuildReplyFrame(0x12, 0, Bytes(image.begin() + 0x180, image.begin() + 0x200)));
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  Bytes expected = image;
  expected.resize(0x10200, 0xFF);
  EXPECT_EQ(ReadFile(dir.File("out.bin")), expected);
}

TEST(DriveSimProcess, HangupAfterDropsTheLineAndExits) {
  TempDir dir;
  SimProcess sim(dir, {"--hangup-after", "1", "--flash-out", dir.File("out.bin")});
  Port port(sim.FirstLine());
  ASSERT_TRUE(port.ok()) << sim.Stderr();
  port.Send(RequestFrameBytes(0x10, {}));
  EXPECT_EQ(port.Receive(48).size(), 48u) << "the last request is still answered";
  EXPECT_TRUE(port.HungUp(5000ms));
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  EXPECT_EQ(ReadFile(dir.File("out.bin")).size(), 0x40800u);
}

TEST(DriveSimProcess, LateReplyComesAfterTheLoadersSilenceLimit) {
  TempDir dir;
  SimProcess sim(dir, {"--late", "1"});
  Port port(sim.FirstLine());
  ASSERT_TRUE(port.ok()) << sim.Stderr();
  const auto start = std::chrono::steady_clock::now();
  port.Send(RequestFrameBytes(0x10, {}));
  EXPECT_TRUE(port.Receive(1, 200ms).empty()) << "nothing within the loader's 200 ms";
  EXPECT_EQ(port.Receive(48).size(), 48u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(DriveSimProcess, PaceHoldsRepliesToLineSpeed) {
  TempDir dir;
  SimProcess sim(dir, {"--pace", "--baud", "1200"});
  Port port(sim.FirstLine());
  ASSERT_TRUE(port.ok()) << sim.Stderr();
  const auto start = std::chrono::steady_clock::now();
  port.Send(RequestFrameBytes(0x10, {}));
  ASSERT_EQ(port.Receive(48).size(), 48u);
  // 6 request and 48 reply bytes of 10 bits at 1200 baud: 450 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 440ms);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(DriveSimProcess, ServesAnExistingDevice) {
  // The far end of a null-modem cable, played by a pseudo-terminal of our own.
  const PseudoTerminalPair cable;
  const int master = cable.master();
  const std::string device = cable.slavePath();
  ASSERT_GE(master, 0);
  ASSERT_FALSE(device.empty());
  TempDir dir;
  SimProcess sim(dir, {"--device", device, "--baud", "9600", "--family", "27"});
  EXPECT_EQ(sim.FirstLine(), device) << sim.Stderr();
  const Bytes identify = RequestFrameBytes(0x10, {});
  ASSERT_EQ(write(master, identify.data(), identify.size()), 6);
  Bytes reply;
  while (reply.size() < 7 + 28 + 1 && SimProcess::WaitReadable(master, 5000ms)) {
    std::uint8_t chunk[64];
    const ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    reply.insert(reply.end(), chunk, chunk + n);
  }
  EXPECT_EQ(
      reply,
      BuildReplyFrame(0x10, 0, EncodeSeries27Identity(DefaultIdentityFields(SimFamily::Series27))));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
}

TEST(DriveSimProcess, BadCommandLinesExitTwoNamingTheOption) {
  TempDir dir;
  WriteFile(dir.File("big.bin"), Bytes(0x10201, 0));
  struct Case {
    std::vector<std::string> arguments;
    const char* named;
  };
  const std::vector<Case> cases = {
      {{"--family", "tk7200"}, "--family"},
      {{"--write-status", "1"}, "--write-status"},
      {{"--flash-in", dir.File("missing.bin")}, "--flash-in"},
      {{"--family", "tl3xx", "--flash-in", dir.File("big.bin")}, "--flash-in"},
  };
  for (const Case& c : cases) {
    SimProcess sim(dir, c.arguments);
    EXPECT_EQ(sim.Stdout(), "") << c.named;
    EXPECT_EQ(sim.Wait(), 2) << c.named;
    EXPECT_NE(sim.Stderr().find(c.named), std::string::npos) << sim.Stderr();
  }
  SimProcess help(dir, {"--help"});
  EXPECT_NE(help.Stdout().find("Usage: drive-sim"), std::string::npos);
  EXPECT_EQ(help.Wait(), 0);
}

}  // namespace
}  // namespace kelvane::sim
