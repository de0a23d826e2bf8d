// kelvane-station against several drive-sims at once: each drive's flash, verdict and transcript,
// the summary and exit status, the table on a terminal and plain lines in a pipe, Ctrl-C in the
// middle of a write for both programs, and 64 drives at once.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "tests/e2e/harness.h"
#include "tests/support/pseudo_terminal.h"

namespace kelvane::e2e {
namespace {

// The journal's lines apart.
std::vector<std::string> Entries(const std::string& journal) {
  std::vector<std::string> entries;
  for (std::size_t at = 0, end; at < journal.size(); at = end + 3) {
    end = std::min(journal.find("--\n", at), journal.size());
    entries.push_back(journal.substr(at, end - at));
  }
  return entries;
}

// The drive-sims of a test, each with a directory of its own holding the Nym sample.
struct Drives {
  explicit Drives(const std::vector<std::vector<std::string>>& sims) {
    for (const auto& sim : sims) {
      dirs.push_back(std::make_unique<TempDir>());
      dirs.back()->Write("nym_sample.s", Example("nym_sample.s"));
      const int wineCom = static_cast<int>(dirs.size());  // under Wine, COM4 on
      drives.push_back(std::make_unique<Drive>(*dirs.back(), "nym", sim, Wire::Usb, wineCom));
    }
  }
  std::vector<const Drive*> All() const {
    std::vector<const Drive*> all;
    for (const auto& drive : drives) all.push_back(drive.get());
    return all;
  }
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::unique_ptr<Drive>> drives;
};

// A good drive, one that refuses its second write, one whose flash reads back a byte wrong.
const std::vector<std::vector<std::string>> THREE = {
    {}, {"--write-status", "2:0x22"}, {"--stuck", "0x2100:0"}};

TEST(Station, LoadsThreeDrivesAndTellsEachApart) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drives three(THREE);
  auto station = StartStation(dir, three.All(), {"/otranscripts", "/jrun.jsonl", "nym_sample.s"});
  ASSERT_TRUE(station->Wait(60s));
  EXPECT_EQ(station->status(), 1);  // one failed
  const std::string out = station->Stdout();
  const auto& d = three.drives;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << "no cursor movement in a pipe";
  for (const auto& [drive, verdict] :
       {std::pair{d[0].get(), "verified"}, {d[1].get(), "FAILED"}, {d[2].get(), "MISMATCH"}})
    EXPECT_NE(out.find(drive->Name() + ": " + verdict + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find(d[1]->Name() + ": FLASH update failed on sector 1 : error code 34\n"),
            std::string::npos);
  // The byte stuck in sector 1 (from 0), which kelvane's mismatch line numbers 2.
  EXPECT_NE(out.find(d[2]->Name() + ": block 2 differs in 1 bytes\n"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("\n3 drives: 1 verified, 1 mismatched, 1 failed\n  " + d[1]->Name() +
                            ": FLASH update failed on sector 1 : error code 34\n  " + d[2]->Name() +
                            ": flash does not match the file\n"))
      << out;

  // Each drive's flash, and its transcript byte for byte what kelvane prints for a drive alike.
  const Bytes stream = Golden("nym_sample.stream");
  Bytes stuck = Holding("nym", 0x2000, stream);
  stuck[0x2100] = 0;
  const Bytes flashes[] = {Holding("nym", 0x2000, stream),
                           Holding("nym", 0x2000, Bytes(stream.begin(), stream.begin() + 256)),
                           stuck};
  for (std::size_t i = 0; i < 3; ++i) {
    const Drive& drive = *d[i];
    EXPECT_TRUE(SameFlash(flashes[i], d[i]->Stop()));
    std::string name = UnderWine() ? "port-" + drive.Name() : drive.Name().substr(5);  // no /dev/
    std::replace(name.begin(), name.end(), '/', '_');
    const Bytes saved = testing::ReadFile(dir.File("transcripts/" + name + ".txt"));
    std::string transcript(saved.begin(), saved.end());
    TempDir alone;
    alone.Write("nym_sample.s", Example("nym_sample.s"));
    Drive same(alone, "nym", THREE[i]);
    const Result kelvane = Load(alone, &same, {"/j" + dir.File("run.jsonl"), "nym_sample.s"});
    transcript.replace(std::string(BANNER).size(), drive.Name().size(), same.Name());
    EXPECT_TRUE(Ran(kelvane, i == 1 ? 1 : 0, transcript)) << i;
  }
  // The station's three lines, a drive each, then kelvane's three appended after them.
  const std::vector<std::string> entries = Entries(JournalLines(dir.File("run.jsonl")));
  ASSERT_EQ(entries.size(), 6u);
  const char* verdicts[] = {"verdict=\"verified\"", "verdict=\"failed\"", "verdict=\"mismatch\""};
  for (std::size_t row = 0; row < 3; ++row) {
    const std::string port = "port=\"" + d[row]->Name() + "\"";
    const auto it = std::find_if(entries.begin(), entries.begin() + 3,
                                 [&](const std::string& e) { return e.find(port) != e.npos; });
    ASSERT_NE(it, entries.begin() + 3) << port;
    const char* statuses[] = {"status=0", "status=1", "status=2"};  // the station is strict
    EXPECT_TRUE(JournalHas(*it, "kelvane-station",
                           {"file=\"nym_sample.s\"", verdicts[row], statuses[row]}));
    EXPECT_TRUE(JournalHas(entries[3 + row], "kelvane", {verdicts[row]}));
  }
  EXPECT_NE(JournalLines(dir.File("run.jsonl"))
                .find("error={\"stage\":\"write\",\"block\":1,\"code\":34,"),
            std::string::npos);
}

// A station pinning both the file and the model: the drive of another model is shown, refused
// and left as it was; the others load.
TEST(Station, RefusesTheDriveOfAnotherModelAndLoadsTheOthers) {
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drives three({{}, {"--model", "771"}, {}});
  auto station =
      StartStation(dir, three.All(),
                   {"/w770", "/f8f9609f04a8803afd8f328535abdc91a0a1f8c439ad58f551ea58ab41817856a",
                    "/jrun.jsonl", "/t", "nym_sample.s"});
  ASSERT_TRUE(station->Wait(60s));
  EXPECT_EQ(station->status(), 1);
  const auto& d = three.drives;
  // /t: every trace line whole, and begun with its drive's port.
  const std::string trace = station->Stderr();
  const std::regex traced("(" + d[0]->Name() + "|" + d[1]->Name() + "|" + d[2]->Name() +
                          "): +[0-9]+ ms (->|<-|--) [^\\n]*\\n");
  std::size_t lines = 0;
  for (std::size_t at = 0, end; (end = trace.find('\n', at)) != std::string::npos; at = end + 1) {
    EXPECT_TRUE(std::regex_match(trace.substr(at, end + 1 - at), traced)) << trace.substr(at);
    ++lines;
  }
  EXPECT_GT(lines, 3 * 26u) << "each drive's requests and replies";
  const std::string refusal = "The drive is model 771, hardware revision C03; /w allows only 770";
  EXPECT_TRUE(station->Stdout().ends_with("\n3 drives: 2 verified, 0 mismatched, 1 failed\n  " +
                                          d[1]->Name() + ": " + refusal + "\n"))
      << station->Stdout();
  EXPECT_TRUE(SameFlash(Bytes(FlashSize("nym"), 0xFF), d[1]->Stop()));
  for (const std::string& entry : Entries(JournalLines(dir.File("run.jsonl")))) {
    if (entry.find("port=\"" + d[1]->Name() + "\"") == std::string::npos) continue;
    EXPECT_TRUE(
        JournalHas(entry, "kelvane-station",
                   {"verdict=\"wrong-drive\"",
                    "error={\"stage\":\"identity\",\"text\":\"" + refusal + "\"}", "status=1"}));
  }
}

// On a terminal the table is redrawn in place, fitted to a 4-line, 59-column pane: a port name
// without /dev/, one row and a count of the two that do not fit; the summary follows it.
TEST(Station, RedrawsItsTableOnATerminal) {
  if (UnderWine()) GTEST_SKIP() << "a Wine console is no pseudo-terminal";
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drives three(std::vector<std::vector<std::string>>(3));
  testing::PseudoTerminal screen;
  const winsize pane{.ws_row = 4, .ws_col = 59, .ws_xpixel = 0, .ws_ypixel = 0};
  ASSERT_EQ(ioctl(screen.master(), TIOCSWINSZ, &pane), 0);
  std::vector<std::string> argv = {"sh", "-c", "exec \"$0\" \"$@\" >" + screen.slavePath(),
                                   STATION_BIN};
  for (const Drive* drive : three.All()) argv.push_back(drive->Port());
  argv.push_back("nym_sample.s");
  ChildProcess station(argv, dir.path());
  const Bytes shown = screen.Receive(1 << 20, 3000);
  ASSERT_TRUE(station.Wait(30s));
  EXPECT_EQ(station.status(), 0);
  const std::string text(shown.begin(), shown.end());
  EXPECT_NE(text.find("\x1b[3A"), std::string::npos) << "back up over the header, a row, the count";
  EXPECT_EQ(text.find("\x1b[4A"), std::string::npos) << text;
  EXPECT_NE(text.find("770123       identified"), std::string::npos) << "drawn once identified";
  // The last drawing: the first row done, with the drive's serial number and its verdict.
  const std::string last = text.substr(text.rfind("\x1b[3A"));
  const std::string port = three.drives[0]->Name().substr(5);  // pts/N
  EXPECT_TRUE(std::regex_search(last, std::regex("\r" + port + " +770123 +done +13/13 +verified")))
      << text;
  EXPECT_NE(last.find("\r+ 2 more drives, all in the summary\x1b[K"), std::string::npos);
  for (std::size_t at = 0; (at = text.find('\r', at)) != std::string::npos; ++at)
    EXPECT_LE(text.find_first_of("\x1b\r\n", at + 1) - at - 1, 58u) << "wider than the pane";
  EXPECT_NE(text.find("3 drives: 3 verified, 0 mismatched, 0 failed"), std::string::npos);
  EXPECT_EQ(station.Stdout(), "");
}

// The terminal's settings as a program that opens it finds them: cooked, as drive-sim left it.
bool Cooked(const Drive& drive) {
  const int fd = open(drive.Name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios settings{};
  const bool cooked = fd >= 0 && tcgetattr(fd, &settings) == 0 && (settings.c_lflag & ICANON);
  if (fd >= 0) close(fd);
  return cooked;
}

// Ctrl-C (or, for the station, the TERM a service manager sends) in the middle of the write
// pass: the run stops before the next block, gives the port its settings back, journals
// "interrupted" and ends with status 130.
TEST(Station, CtrlCStopsBothProgramsAtABlock) {
  if (UnderWine()) GTEST_SKIP() << "Wine has no SIGINT of its own";
  for (const bool station : {false, true}) {
    TempDir dir;
    dir.Write("nym_sample.s", Example("nym_sample.s"));
    Drives paced(
        std::vector<std::vector<std::string>>(station ? 2 : 1, {"--pace", "--baud", "19200"}));
    auto run = station ? StartStation(dir, paced.All(), {"/jrun.jsonl", "nym_sample.s"})
                       : StartLoader(dir, paced.drives[0].get(), {"/jrun.jsonl", "nym_sample.s"});
    // Into a pipe the progress lines leave in blocks: the drives' logs tell how far the runs got.
    for (const Drive* drive : paced.All()) ASSERT_TRUE(drive->Reached("WRITE 0x00000100"));
    run->Signal(station ? SIGTERM : SIGINT);
    ASSERT_TRUE(run->Wait(10s));
    EXPECT_EQ(run->status(), 130) << station;
    const std::string out = run->Stdout();
    const std::string stop =
        station ? ": Interrupted before sector " : "\r\nInterrupted before sector ";
    std::size_t stops = 0;
    for (auto at = out.find(stop); at != std::string::npos; at = out.find(stop, at + 1)) ++stops;
    // The station tells each drive's stop as it happens, then again in its summary.
    EXPECT_EQ(stops, station ? 4u : 1u) << out;
    EXPECT_NE(out.find(station ? "0 failed, 2 interrupted\n" : " was written\r\n"),
              std::string::npos)
        << out;
    const std::vector<std::string> entries = Entries(JournalLines(dir.File("run.jsonl")));
    EXPECT_EQ(entries.size(), station ? 2u : 1u);
    for (const std::string& entry : entries)
      EXPECT_TRUE(JournalHas(
          entry, station ? "kelvane-station" : "kelvane",
          {"verdict=\"interrupted\"", "error={\"stage\":\"write\",\"block\":*", "status=130"}));
    for (const Drive* drive : paced.All()) EXPECT_TRUE(Cooked(*drive)) << station;
  }
}

// 64 drives at once, unpaced: every thread finishes, in little memory.
TEST(Station, LoadsSixtyFourDrives) {
  if (UnderWine()) GTEST_SKIP() << "Wine maps a few COM ports only";
  TempDir dir;
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drives many(std::vector<std::vector<std::string>>(64));
  auto station = StartStation(dir, many.All(), {"nym_sample.s"});
  ASSERT_TRUE(station->Wait(120s));
  EXPECT_EQ(station->status(), 0);
  EXPECT_TRUE(station->Stdout().ends_with("\n64 drives: 64 verified, 0 mismatched, 0 failed\n"));
#ifndef KELVANE_SANITIZED
  EXPECT_LT(station->peakRssKiB(), 64 * 1024);
#endif
}

// What a station refuses before it opens any port.
TEST(Station, RefusesBeforeOpeningAPort) {
  TempDir dir;
  dir.Write("bad.s", std::string("hello\n"));
  dir.Write("nym_sample.s", Example("nym_sample.s"));
  Drives one(std::vector<std::vector<std::string>>(1));
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"/ufw.bin", "nym_sample.s"},
       "Option /u backs up one drive and is not for a station: /ufw.bin\r\n"},
      {{"bad.s"}, "Error (file:1) : not an S-record found\r\n"},
      {{"/a", "/d"}, "S-record file with firmware is not specified\n"},
      {{"/f0123456789abcdef", "/jrun.jsonl", "nym_sample.s"},
       "File nym_sample.s has SHA-256 "
       "8f9609f04a8803afd8f328535abdc91a0a1f8c439ad58f551ea58ab41817856a, not the "
       "0123456789abcdef that /f asks for\r\n"},
      {{one.drives[0]->Port(), "nym_sample.s"},
       "Port " + one.drives[0]->Name() + " is named twice (as " + one.drives[0]->Name() +
           "): each /c names another drive\n"},
  };
  for (const auto& [arguments, says] : refusals) {
    auto station = StartStation(dir, one.All(), arguments);
    ASSERT_TRUE(station->Wait(10s));
    EXPECT_EQ(station->status(), 1);
    EXPECT_EQ(station->Stdout(), says);
  }
  EXPECT_FALSE(one.drives[0]->Heard());
  EXPECT_TRUE(JournalHas(JournalLines(dir.File("run.jsonl")), "kelvane-station",
                         {"verdict=\"file-refused\"", "error={\"stage\":\"file\",*"}));
  auto portless = StartStation(dir, {}, {"bad.s"});
  ASSERT_TRUE(portless->Wait(10s));
  EXPECT_EQ(portless->status(), 1);
  EXPECT_EQ(portless->Stdout(),
            "No port given: name each drive's port with /c (/c3, /c/dev/ttyUSB0)\n");
}

}  // namespace
}  // namespace kelvane::e2e
