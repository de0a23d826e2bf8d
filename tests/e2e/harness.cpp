#include "tests/e2e/harness.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>

namespace kelvane::e2e {

namespace {

// The identity lines of drive-sim's default drive of each family: the 40-byte
// identity of three families, with its extended part the same in all three.
const char* const FORTY_BYTES =
    " Monitor revision:       %s\r\n Model code:             %s\r\n"
    " Hardware revision:      %s\r\n Current capability:     %s Amp\r\n"
    " Serial number           %s\r\n Reserved                0000\r\n"
    " Personality block size  %s\r\n MAC address             001B5C 3A07d2\r\n"
    " Reserved                0000\r\n Date code               20240611\r\n"
    " Manufacturing code      4\r\n Test station code       12\r\n";
const std::map<std::string, std::vector<const char*>> FORTY_BYTE_DRIVES = {
    {"nym", {"0412", "770", "C03", "02.50", "770123", "512"}},
    {"tl3xx", {"0207", "310", "B01", "01.25", "310456", "256"}},
    {"tk720", {"0530", "720", "A02", "12.50", "720301", "512"}}};
const std::map<std::string, std::string> IDENTITIES = {
    {"27",
     " Monitor revision:          0311\r\n Model code:                27S\r\n"
     " Hardware revision:         D01\r\n Current capability:        6.00 Amp\r\n"
     " Serial number              270789\r\n Build number               1375\r\n"
     " Current sensor resolution: 204.80 ADC counts/Amp\r\n"
     " Bus sensor resolution:     17.50 ADC counts/V\r\n"},
    {"tk720-digest",
     "   monitorRevision              5\n   buildNumber                  2210\n"
     "   driveCurrentCapability       12.50 Amp\n   busSensorResolution          40.96 Counts/V\n"
     "   currentSensorResolution      163.84 Counts/Amp\n   serialNumber                 720555\n"
     "   manufacturingCode            3\n   hardwareRevision             1.02\n"
     "   modelCode                    72D\n   vinNumber                    SIM720-000555\n"
     "   macAddress                   00 1b 5c 3a 07 d2\n   checksum                     5a3c\n"}};

// Where two texts or flash contents first differ.
std::size_t FirstDifference(const auto& a, const auto& b) {
  return std::size_t(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

// Lines to and from one of the virtual machine's sockets; a read waits at most two minutes.
class Socket {
 public:
  explicit Socket(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un at{AF_UNIX, {}};
    path.copy(at.sun_path, sizeof at.sun_path - 1);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << path;
  }
  void Send(const std::string& line) { EXPECT_GT(write(fd_, line.data(), line.size()), 0); }
  std::string Line() {
    char chunk[65536];
    for (pollfd ready{fd_, POLLIN, 0}; buffered_.find('\n') == std::string::npos;) {
      const ssize_t n = poll(&ready, 1, 120000) == 1 ? read(fd_, chunk, sizeof chunk) : 0;
      if (n <= 0) return "";
      buffered_.append(chunk, std::size_t(n));
    }
    std::string line = buffered_.substr(0, buffered_.find('\n'));
    buffered_.erase(0, line.size() + 1);
    return line;
  }

 private:
  int fd_;
  std::string buffered_;
};

Socket& Console() {
  static Socket console(Env("KELVANE_VM_CONSOLE"));
  return console;
}

// One QMP command with its JSON arguments; then, for `event`, its announcement.
void Qmp(const std::string& command, const std::string& arguments, const char* event = nullptr) {
  static Socket qmp(Env("KELVANE_VM_QMP"));
  static const bool greeted =
      (qmp.Line(), qmp.Send(R"({"execute": "qmp_capabilities"})"), !qmp.Line().empty());
  qmp.Send(R"({"execute": ")" + command + R"(", "arguments": )" + arguments + "}");
  std::string line;
  while ((line = qmp.Line()).find("\"return\"") == std::string::npos && !line.empty())
    EXPECT_EQ(line.find("\"error\""), std::string::npos) << command << ": " << line;
  while (event != nullptr && !line.empty() && line.find(event) == std::string::npos)
    line = qmp.Line();
  EXPECT_TRUE(greeted && !line.empty()) << command << " had no answer";
}

std::string Backend(const std::string& pty) {
  return R"({"type": "serial", "data": {"device": ")" + pty + R"("}})";
}

std::string Unhex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += char(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return bytes;
}

}  // namespace

std::string JournalLines(const std::string& path) {
  if (testing::ReadFile(path).empty()) return "";
  ChildProcess python({"python3", "-c",
                       "import json, sys\n"
                       "lines = open(sys.argv[1], 'rb').read().decode('utf-8').split('\\n')\n"
                       "assert lines[-1] == '', 'the last line ends with a line feed'\n"
                       "print('--\\n'.join('\\n'.join(k + '=' + json.dumps(v, separators=(',', "
                       "':')) for k, v in json.loads(l).items()) for l in lines[:-1]))",
                       path});
  EXPECT_TRUE(python.Wait(10s));
  EXPECT_EQ(python.status(), 0) << python.Stderr();
  return python.Stdout();
}

::testing::AssertionResult JournalHas(const std::string& journal, const std::string& program,
                                      const std::vector<std::string>& expected) {
  // Two lines: "--" in `expected` parts what each holds.
  const auto split = std::find(expected.begin(), expected.end(), "--");
  if (const std::size_t cut = journal.find("--\n");
      split != expected.end() || cut != journal.npos) {
    if (split == expected.end() || cut == journal.npos)
      return ::testing::AssertionFailure() << journal << "\nis not the lines expected";
    const auto first = JournalHas(journal.substr(0, cut), program, {expected.begin(), split});
    return first ? JournalHas(journal.substr(cut + 3), program, {split + 1, expected.end()})
                 : first;
  }
  static const char* const KEYS[] = {
      "time",        "seconds", "program", "version",   "host",  "port",
      "device",      "baud",    "family",  "operation", "file",  "file_sha256",
      "image_bytes", "blocks",  "drive",   "verdict",   "error", "status"};
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < journal.size(); at = end + 1) {
    end = std::min(journal.find('\n', at), journal.size());
    lines.push_back(journal.substr(at, end - at));
  }
  auto failure = ::testing::AssertionFailure() << journal;
  if (lines.size() != std::size(KEYS)) return failure << "\nis not one line of 18 keys";
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (!lines[i].starts_with(KEYS[i] + std::string("="))) return failure << "\nkey " << KEYS[i];
  if (!std::regex_match(lines[0], std::regex(R"(time="20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")")))
    return failure << "\nthe time";
  // The run began within the last ten minutes: its date is today's, or yesterday's just after
  // midnight (UTC).
  const auto Day = [](std::time_t at) {
    std::tm utc{};
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", gmtime_r(&at, &utc));
    return "time=\"" + std::string(day);
  };
  const std::time_t now = std::time(nullptr);
  if (!lines[0].starts_with(Day(now)) && !lines[0].starts_with(Day(now - 600)))
    return failure << "\nthe date";
  std::vector<std::string> all = expected;
  all.insert(all.end(), {"program=\"" + program + "\"", "version=\"2.03\""});
  for (const std::string& line : all) {
    const bool prefix = line.ends_with('*');
    const std::size_t star = line.find("=*");
    const std::string want = prefix ? line.substr(0, line.size() - 1) : line;
    if (std::none_of(lines.begin(), lines.end(), [&](const std::string& got) {
          if (star != line.npos)
            return got.starts_with(line.substr(0, star + 1)) &&
                   got.ends_with(line.substr(star + 2));
          return prefix ? got.starts_with(want) : got == want;
        }))
      return failure << "\nlacks " << line;
  }
  return ::testing::AssertionSuccess();
}

void StartInGuest(const std::string& command) {
  Console().Send(command + "\n");
}

// The guest answers "@@ <status> <stdout in hex>x<stderr in hex>" (tests/vm/init).
Result InGuest(const std::string& command) {
  if (!command.empty()) StartInGuest(command);
  std::string line;
  while (!(line = Console().Line()).starts_with("@@ ") && !line.empty()) {
  }
  const std::size_t status = 3, out = line.find(' ', status) + 1, err = line.find('x', out) + 1;
  EXPECT_TRUE(out > 0 && err > 0) << "no answer from the virtual machine to " << command;
  if (out == 0 || err == 0) return {};
  return {std::stoi(line.substr(status)), Unhex(line.substr(out, err - 1 - out)),
          Unhex(line.substr(err))};
}

std::string Env(const char* name) {
  return std::getenv(name) != nullptr ? std::getenv(name) : "";
}

Drive::Drive(const TempDir& dir, const std::string& family, std::vector<std::string> arguments,
             Wire wire, int wineCom)
    : dir_(dir), wire_(wire) {
  arguments.insert(arguments.begin(), {DRIVE_SIM_BIN, "--family", family, "--flash-out",
                                       dir.File("sim.flash"), "--log", dir.File("sim.log")});
  // Wine leaves the terminal's settings as it finds them, as a COM port has none. The station's
  // ports are KELVANE_WINE_STATION_COMS' digits, each linked from <link dir>/com<digit>.
  std::string com;
  if (UnderWine()) {
    const std::string coms = Env("KELVANE_WINE_STATION_COMS");
    const auto at = static_cast<std::size_t>(2 * (wineCom - 1));
    com = wineCom == 0 ? Env("KELVANE_WINE_COM") : at < coms.size() ? coms.substr(at, 1) : "";
    const std::string link =
        wineCom == 0 ? Env("KELVANE_WINE_COM_LINK") : Env("KELVANE_WINE_LINK_DIR") + "/com" + com;
    arguments.insert(arguments.end(), {"--link", link, "--raw-line"});
  }
  sim_ = std::make_unique<ChildProcess>(arguments, dir.path());
  // Its first line is the pseudo-terminal's path.
  EXPECT_TRUE(sim_->WaitForStdout("\n", 10s)) << sim_->Stderr();
  pty_ = name_ = sim_->Stdout().substr(0, sim_->Stdout().find('\n'));
  if (UnderWine()) name_ = "COM" + com;
  if (!UnderVm()) return;
  static int plugs = 0;
  id_ = std::to_string(++plugs);
  if (wire == Wire::Uart) {
    Qmp("chardev-change", R"({"id": "uart1", "backend": )" + Backend(pty_) + "}");
    name_ = "COM2";
    return;
  }
  name_ = "/dev/ttyUSB0";
  Plug();
}

Drive::~Drive() {
  if (UnderVm() && wire_ == Wire::Uart)
    Qmp("chardev-change", R"({"id": "uart1", "backend": {"type": "null", "data": {}}})");
  if (plugged_) Pull();
}

// The line goes with the adapter: what the drive was still sending is lost, not kept for the
// next adapter as QEMU would keep it.
void Drive::Pull() {
  Qmp("device_del", R"({"id": "adapter)" + id_ + R"("})", "DEVICE_DELETED");
  Qmp("chardev-remove", R"({"id": "line)" + id_ + R"("})");
  plugged_ = false;
  EXPECT_EQ(InGuest("unplugged " + name_).status, 0) << name_ << " stayed";
}

void Drive::Plug() {
  Qmp("chardev-add", R"({"id": "line)" + id_ + R"(", "backend": )" + Backend(pty_) + "}");
  Qmp("device_add", R"({"driver": "usb-serial", "chardev": "line)" + id_ + R"(", "id": "adapter)" +
                        id_ + R"("})");
  plugged_ = true;
  EXPECT_EQ(InGuest("plugged " + name_).status, 0) << name_ << " did not come";
}

bool Drive::Reached(const std::string& text) const {
  for (int tries = 0; tries < 1500; ++tries, usleep(20000)) {
    const Bytes log = testing::ReadFile(dir_.File("sim.log"));
    if (std::string(log.begin(), log.end()).find(text) != std::string::npos) return true;
  }
  return false;
}

Bytes Drive::Stop() {
  sim_->Signal(SIGTERM);
  EXPECT_TRUE(sim_->Wait(10s));
  EXPECT_EQ(sim_->status(), 0) << sim_->Stderr();
  return testing::ReadFile(dir_.File("sim.flash"));
}

std::unique_ptr<ChildProcess> StartLoader(const TempDir& dir, const Drive* drive,
                                          const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {KELVANE_BIN};
  if (UnderWine()) argv = {"wine", Env("KELVANE_WINE_EXE")};
  if (drive != nullptr) argv.push_back(drive->Port());
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return std::make_unique<ChildProcess>(argv, dir.path());
}

std::unique_ptr<ChildProcess> StartStation(const TempDir& dir,
                                           const std::vector<const Drive*>& drives,
                                           const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {STATION_BIN};
  if (UnderWine()) argv = {"wine", Env("KELVANE_WINE_STATION_EXE")};
  for (const Drive* drive : drives) argv.push_back(drive->Port());
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return std::make_unique<ChildProcess>(argv, dir.path());
}

Result Load(const TempDir& dir, const Drive* drive, const std::vector<std::string>& arguments) {
  if (UnderVm()) {
    std::string command = "kelvane " + (drive != nullptr ? drive->Port() : "");
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    return InGuest(command);
  }
  auto loader = StartLoader(dir, drive, arguments);
  EXPECT_TRUE(loader->Wait(120s)) << "the loader was still running after two minutes";
  loader->Kill();
  return {loader->status(), loader->Stdout(), loader->Stderr()};
}

::testing::AssertionResult Ran(const Result& run, int status, const std::string& out) {
  if (run.status == status && run.out == out) return ::testing::AssertionSuccess();
  const std::size_t at = FirstDifference(out, run.out), from = at > 100 ? at - 100 : 0;
  return ::testing::AssertionFailure()
         << "status " << run.status << " (expected " << status << "); output differs at byte " << at
         << "\n--- expected from byte " << from << ":\n"
         << ::testing::PrintToString(out.substr(from, 600)) << "\n--- got:\n"
         << ::testing::PrintToString(run.out.substr(from, 600));
}

std::string Head(const Drive& drive, const std::string& family, bool valid, int failures) {
  char forty[1024] = {};
  if (const auto v = FORTY_BYTE_DRIVES.find(family); v != FORTY_BYTE_DRIVES.end())
    std::snprintf(forty, sizeof forty, FORTY_BYTES, v->second[0], v->second[1], v->second[2],
                  v->second[3], v->second[4], v->second[5]);
  const std::string identity = *forty != '\0' ? forty : IDENTITIES.at(family);
  return BANNER + drive.PortLine() + Countdown(failures) +
         "Connection with device established.\r\n\r\nDevice details:\r\n" + identity +
         (family != "tk720-digest" ? ""
          : valid                  ? "Device contains valid firmware.\n"
                                   : "Device doesn't have any valid firmware\n") +
         "\r\n";
}

std::string Countdown(int failures) {
  std::string countdown;
  char line[64];
  for (int n = 1000; n > 1000 - failures; --n) {
    std::snprintf(line, sizeof line, "Trying to establish link with device %4d\r", n);
    countdown += line;
  }
  return countdown;
}

std::string Pass(const char* done, const char* unit, int count, int from, int to,
                 const std::map<int, int>& errors) {
  std::string text;
  char line[96];
  for (int k = from; k < (to < 0 ? count : to); ++k) {
    if (const auto error = errors.find(k); error != errors.end())
      std::snprintf(line, sizeof line, " %s %4d has %4d errorneous location(s)\r\n",
                    unit[0] == 's' ? "Sector" : "Block", k + 1, error->second);
    else
      std::snprintf(line, sizeof line, "%4d of %4d %s %s\r", k + 1, count, unit, done);
    text += line;
  }
  return text;
}

std::size_t FlashSize(const std::string& family) {
  return family == "nym"     ? 0x40800
         : family == "tl3xx" ? 0x10200
         : family == "27"    ? 0x20000
                             : 0x200000;
}

Bytes Golden(const std::string& name) {
  return testing::ReadFile(std::string(E2E_DIR) + "/golden/" + name);
}

Bytes Example(const std::string& name) {
  return testing::ReadFile(std::string(EXAMPLES_DIR) + "/" + name);
}

Bytes Holding(const std::string& family, std::size_t at, const Bytes& image, Bytes flash) {
  if (flash.empty()) flash.assign(FlashSize(family), 0xFF);
  std::copy(image.begin(), image.end(), flash.begin() + static_cast<std::ptrdiff_t>(at));
  return flash;
}

::testing::AssertionResult SameFlash(const Bytes& expected, const Bytes& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "flash of " << actual.size() << " bytes (expected " << expected.size()
         << ") differs first at 0x" << std::hex << FirstDifference(expected, actual);
}

}  // namespace kelvane::e2e
