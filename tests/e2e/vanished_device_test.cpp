// A serial device that disappears mid-run, the way a USB adapter is pulled:
// the drive end of the pseudo-terminal is killed without warning while the
// loader is counting down, writing or reading back. From then on every read
// and write fails; the run must end at once with the failure message of the
// exchange it was in and status 1, never spin through silence or hang.

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"

namespace kelvane::e2e {
namespace {

using e2e::PrintTo;

// How long the loader may take to notice a vanished line and end. Every
// read and write then fails at once; the bound only catches a loader that
// waits out time-outs or loops, and leaves room for a loaded machine.
constexpr auto GONE_LIMIT = 15s;

// A drive-sim started by this file, so that it can be killed outright (the
// harness's DriveSim only stops it politely).
class VanishingDrive {
 public:
  VanishingDrive(const TempDir& dir, const std::string& family,
                 const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {DRIVE_SIM_BIN, "--family", family};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    error_ = process_.Start(argv, dir.path(), dir.File("gone.stdout"), dir.File("gone.stderr"));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (error_.empty()) {
      const std::string out = ReadText(dir.File("gone.stdout"));
      if (const auto end = out.find('\n'); end != std::string::npos) {
        pty_ = out.substr(0, end);
        break;
      }
      if (!process_.Running() || std::chrono::steady_clock::now() > deadline) {
        error_ = "drive-sim named no pseudo-terminal: " + ReadText(dir.File("gone.stderr"));
      }
      std::this_thread::sleep_for(5ms);
    }
  }
  ::testing::AssertionResult Started() const {
    if (error_.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error_;
  }
  std::string PortLine() const { return Format("%s open at 38400 baud\r\n", pty_.c_str()); }
  std::string PortArgument() const { return "/c" + pty_; }
  void Pull() { process_.Kill(); }

 private:
  Process process_;
  std::string pty_;
  std::string error_;
};

struct Case {
  const char* name;
  const char* family;
  std::vector<std::string> driveArguments;
  std::vector<std::string> loaderArguments;
  // Output that shows the run is well under way when the line goes.
  std::string waitFor;
  // The expected tail for a run cut at block `k` with result `code`; the
  // identity and the progress before it are checked through `head`.
  std::string (*head)(const VanishingDrive& drive, int k);
  std::string (*failure)(int k, int code);
  bool linkPhase;
};

std::string NymHead(const VanishingDrive& drive) {
  return Banner() + drive.PortLine() +
         "Connection with device established.\r\n\r\nDevice details:\r\n" + NYM_IDENTITY_LINES +
         "\r\n" + "Setting flash to 0xFF\r\n";
}

std::vector<Case> Cases() {
  const std::vector<std::string> nymDrive = {"--identity-hex", NYM_IDENTITY_HEX, "--pace", "--baud",
                                             "19200"};
  return {
      {"WhileCountingDown",
       "nym",
       {"--silent"},
       {"/d"},
       Format("Trying to establish link with device %4d\r", 998),
       [](const VanishingDrive& drive, int) { return Banner() + drive.PortLine(); },
       [](int, int) {
         return Countdown(1000) + "Failed to establish connection with selected device\r\n\r\n";
       },
       true},
      {"WhileWriting",
       "nym",
       nymDrive,
       {"/d"},
       "  20 of  992 sectors updated\r",
       [](const VanishingDrive& drive, int k) {
         return NymHead(drive) + WriteProgress(SectorPass(992), k);
       },
       [](int k, int code) {
         return Format("FLASH update failed on sector %d : error code %d\r\n", k, code);
       },
       false},
      {"WhileReadingBack",
       "nym",
       nymDrive,
       {"/d", "/v"},
       "  20 of  992 sectors verifyed\r",
       [](const VanishingDrive& drive, int k) {
         return NymHead(drive) + VerifyProgress(SectorPass(992), k);
       },
       [](int k, int code) {
         return Format(
             "FLASH verification failed on sector %d because of communication error %d\r\n", k,
             code);
       },
       false},
  };
}

class VanishedDevice : public ::testing::TestWithParam<Case> {};

TEST_P(VanishedDevice, EndsAtOnceWithTheFailureOfTheExchange) {
  if (UnderWine()) GTEST_SKIP() << "Wine's serial layer reports a vanished line its own way";
  const Case& c = GetParam();
  TempDir dir;
  VanishingDrive drive(dir, c.family, c.driveArguments);
  ASSERT_TRUE(drive.Started());
  std::vector<std::string> arguments = {KELVANE_BIN, drive.PortArgument()};
  arguments.insert(arguments.end(), c.loaderArguments.begin(), c.loaderArguments.end());
  Process loader;
  ASSERT_EQ(loader.Start(arguments, dir.path(), dir.File("out"), dir.File("err")), "");

  // Wait until the run is under way, then pull the line.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (ReadText(dir.File("out")).find(c.waitFor) == std::string::npos) {
    ASSERT_TRUE(loader.Running()) << Escape(ReadText(dir.File("out")));
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << Escape(ReadText(dir.File("out")));
    std::this_thread::sleep_for(2ms);
  }
  drive.Pull();
  const bool ended = loader.Wait(GONE_LIMIT);
  if (!ended) loader.Kill();
  const std::string out = ReadText(dir.File("out"));
  ASSERT_TRUE(ended) << "still running " << GONE_LIMIT.count() << " s after the line went: "
                     << Escape(out.substr(out.size() > 300 ? out.size() - 300 : 0));
  EXPECT_EQ(loader.status(), 1);

  // The block the run was at: the number of progress lines before the failure.
  bool matched = false;
  for (int k = 0; k <= 992 && !matched; ++k) {
    for (int code : {16, 18}) {
      if (out == c.head(drive, k) + c.failure(k, code)) matched = true;
    }
    if (c.linkPhase) break;
  }
  EXPECT_TRUE(matched) << Escape(out.substr(out.size() > 400 ? out.size() - 400 : 0));
}

INSTANTIATE_TEST_SUITE_P(Phases, VanishedDevice, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvane::e2e
