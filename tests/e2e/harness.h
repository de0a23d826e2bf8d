#pragma once

// The real kelvane against the real drive-sim on a pseudo-terminal, each test
// in a directory of its own. Under Wine (KELVANE_WINE_EXE, _COM and _COM_LINK
// set by tests/wine/run_e2e.sh) kelvane.exe runs instead, on COM<n>, which
// the Wine prefix maps to the link drive-sim makes to its pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kelvane::e2e {

using testing::Bytes;
using testing::TempDir;

bool UnderWine();

// Table rows show by their names in test output; rows in an unnamed
// namespace need `using e2e::PrintTo;` there.
template <typename Row>
requires requires(const Row& r) {
  std::string_view(r.name);
}
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

// One drive-sim of the test's own, saving its flash to sim.flash.
class Drive {
 public:
  Drive(const TempDir& dir, const std::string& family, std::vector<std::string> arguments = {});
  // The loader's port option for this drive: /c<pty>, or /c<n> under Wine.
  std::string Port() const;
  // "<port> open at <baud> baud\r\n", or "Failed to open <port> port\r\n".
  std::string PortLine(int baud = 38400) const;
  std::string PortFailure() const;
  // SIGTERM; the flash drive-sim saved on its way out.
  Bytes Stop();
  std::string Log() const { return testing::ReadText(dir_.File("sim.log")); }
  // Drops the line as a pulled cable would.
  void Kill() { sim_->Kill(); }

 private:
  const TempDir& dir_;
  std::unique_ptr<testing::ChildProcess> sim_;
  std::string pty_;
};

struct Result {
  int status = -1;
  std::string out;
};
// The loader in `dir` with the drive's port option first (when given) and
// `arguments`; killed, and the test failed, after two minutes.
std::unique_ptr<testing::ChildProcess> StartLoader(const TempDir& dir, const Drive* drive,
                                                   const std::vector<std::string>& arguments);
Result Load(const TempDir& dir, const Drive* drive, const std::vector<std::string>& arguments);

// Exit status and standard output byte for byte; on a difference, the
// escaped lines around it.
::testing::AssertionResult Ran(const Result& run, int status, const std::string& out);

// ---- texts as the loader prints them
extern const char* const BANNER;
// Banner, port line, connection lines, "Device details:", the identity of
// the family's drive as drive-sim makes it by default, `firmware` (what a
// digest drive says of its firmware) and the empty line; `failures` failed
// identify attempts before the link.
std::string Head(const Drive& drive, const std::string& family, const std::string& firmware = "",
                 int failures = 0);
// One pass's progress: "updated" or "verifyed" lines of blocks `from` ..
// `to` - 1 out of `count`; `errors` maps a block to its differing bytes.
std::string Pass(const char* done, const char* unit, int count, int from = 0, int to = -1,
                 const std::map<int, int>& errors = {});

// ---- flash
std::size_t FlashSize(const std::string& family);
// A committed file of tests/e2e/golden/ or examples/.
Bytes Golden(const std::string& name);
Bytes Example(const std::string& name);
// Erased flash of the family with `image` at `at`.
Bytes Holding(const std::string& family, std::size_t at, const Bytes& image, Bytes flash = Bytes());
::testing::AssertionResult SameFlash(const Bytes& expected, const Bytes& actual);

}  // namespace kelvane::e2e
