#pragma once

// The real kelvane against the real drive-sim on a pseudo-terminal, each test
// in a directory of its own; under Wine (tests/wine/run_e2e.sh) kelvane.exe
// on COM<n>, which Wine maps to drive-sim's link to its pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kelvane::e2e {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::ChildProcess;
using testing::TempDir;

std::string Env(const char* name);  // empty when unset
inline bool UnderWine() {
  return !Env("KELVANE_WINE_EXE").empty();
}
// Under tests/vm/run.sh: the static kelvane runs in a virtual machine, on the
// kernel's own UART and FTDI USB-serial drivers, each wired to a drive-sim.
inline bool UnderVm() {
  return !Env("KELVANE_VM_CONSOLE").empty();
}
// Table rows name their cases (gtest takes letters and digits only).
inline auto RowName = [](const auto& info) {
  std::string name = info.param.name;
  std::erase(name, '-');
  return name;
};

// How the virtual machine's loader reaches a drive: through an FTDI adapter
// plugged for it (/dev/ttyUSB0), or through its second UART (COM2).
enum class Wire { Usb, Uart };

// One drive-sim of the test's own, saving its flash to sim.flash.
class Drive {
 public:
  // Under Wine, `wineCom` 0 is the suite's COM port; 1 to 3 the station's others.
  Drive(const TempDir& dir, const std::string& family, std::vector<std::string> arguments = {},
        Wire wire = Wire::Usb, int wineCom = 0);
  ~Drive();
  // The loader's option and its name for the port: the pty's path, COM<n>, or the guest's.
  std::string Port() const { return "/c" + (name_.starts_with("COM") ? name_.substr(3) : name_); }
  std::string Name() const { return name_; }
  std::string PortLine() const { return Name() + " open at 38400 baud\r\n"; }
  Bytes Stop();  // SIGTERM; the flash drive-sim saved on its way out
  bool Heard() const { return !testing::ReadFile(dir_.File("sim.log")).empty(); }
  // Waits until drive-sim's log holds `text`: the loader has got that far.
  bool Reached(const std::string& text) const;
  void Kill() { sim_->Kill(); }  // drops the line as a pulled cable would
  // In the virtual machine: the adapter pulled out, and plugged back in.
  void Pull();
  void Plug();

 private:
  const TempDir& dir_;
  std::unique_ptr<ChildProcess> sim_;
  std::string pty_, name_, id_;
  Wire wire_;
  bool plugged_ = false;
};

struct Result {
  int status = -1;
  std::string out, err;
};
// The loader in `dir` with the drive's port option first (when given) and
// `arguments`; Load kills it, and fails the test, after two minutes.
std::unique_ptr<ChildProcess> StartLoader(const TempDir& dir, const Drive* drive,
                                          const std::vector<std::string>& arguments);
Result Load(const TempDir& dir, const Drive* drive, const std::vector<std::string>& arguments);
// kelvane-station in `dir` with a port option for each of `drives`, then `arguments`.
std::unique_ptr<ChildProcess> StartStation(const TempDir& dir,
                                           const std::vector<const Drive*>& drives,
                                           const std::vector<std::string>& arguments);
// Exit status and standard output byte for byte; else the text around the difference.
// The virtual machine's shell: `command` run in its samples' directory, or
// started there (with InGuest("") collecting what it gave).
Result InGuest(const std::string& command);
void StartInGuest(const std::string& command);
::testing::AssertionResult Ran(const Result& run, int status, const std::string& out);

inline const char* const BANNER =
    "\r\n Ostrel firmware loader\r\n                                            Version "
    "2.03\r\n\r\n";
inline const char* const UPDATED = "\r\nFirmware was successufully updated\r\n";
inline const char* const VERIFIED = "\r\nFirmware was successufully verifyed\r\n";
// Banner, port line, `failures` failed identify attempts, the link, the
// identity of the family's default drive-sim drive, what a digest drive says
// of its firmware (`valid` or not) and the empty line.
std::string Head(const Drive& drive, const std::string& family, bool valid = false,
                 int failures = 0);
// "updated" or "verifyed" lines of blocks `from` .. `to` - 1 out of `count`;
// `errors` maps a block to its differing bytes.
std::string Pass(const char* done, const char* unit, int count, int from = 0, int to = -1,
                 const std::map<int, int>& errors = {});
// "Trying to establish link with device" from 1000 down, `failures` times.
std::string Countdown(int failures);

// Every line of the journal at `path` as Python's json module reads it: "key=value" lines, the
// value re-encoded by it, lines apart by "--"; empty when there is no journal.
std::string JournalLines(const std::string& path);
// `journal` is one line of the 18 keys in their order, from `program`, with `expected` among them
// (a value ending in * as a prefix, one beginning with * as a suffix) and the time in UTC with
// milliseconds; or, with "--" in `expected`, two such lines.
::testing::AssertionResult JournalHas(const std::string& journal, const std::string& program,
                                      const std::vector<std::string>& expected);

std::size_t FlashSize(const std::string& family);
Bytes Golden(const std::string& name);
Bytes Example(const std::string& name);
// Erased flash of the family (or `flash`) with `image` at `at`.
Bytes Holding(const std::string& family, std::size_t at, const Bytes& image, Bytes flash = Bytes());
::testing::AssertionResult SameFlash(const Bytes& expected, const Bytes& actual);

}  // namespace kelvane::e2e
