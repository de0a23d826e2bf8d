#include "programs/station.h"

#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "image/firmware_file.h"
#include "programs/dry_run.h"
#include "programs/terminal.h"
#include "report/console_report.h"
#include "report/failure_text.h"
#include "report/journal.h"
#include "report/journal_entry.h"
#include "report/station_board.h"
#include "report/verdict_words.h"
#include "report/version.h"
#include "run/drive_guards.h"
#include "run/drive_run.h"
#include "run/same_file.h"

namespace kelvane {

namespace {

// What a station's thread leaves behind for the summary and the journal.
struct DriveResult {
  std::string port;
  DriveOutcome outcome;
  JournalRecorder recorder;
};

// "<folder>/<port name>.txt": the device path's directories joined by "_",
// /dev/, Windows' \\.\ and a leading "/" left out (/dev/pts/3 gives
// pts_3.txt, /tmp/drive tmp_drive.txt, \\.\COM12 COM12.txt). Windows takes
// COM1 to COM9 (and CON, AUX, LPT1, ...) as devices whatever the extension:
// a file named COM3.txt would be the port itself, so those names begin with
// "port-" on every system (port-COM3.txt).
std::string TranscriptName(std::string port) {
  for (const char* prefix : {"/dev/", "\\\\.\\"}) {
    if (port.starts_with(prefix)) port.erase(0, std::string(prefix).size());
  }
  while (!port.empty() && (port.front() == '/' || port.front() == '\\')) port.erase(0, 1);
  for (char& c : port) {
    if (c == '/' || c == '\\' || c == ':') c = '_';
  }
  std::string upper = port;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool numbered = upper.size() == 4 &&
                        (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
                        upper[3] <= '9';
  const bool device = upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL";
  return (numbered || device ? "port-" : "") + port + ".txt";
}

void PrintSummary(const std::vector<std::unique_ptr<DriveResult>>& results, std::FILE* out) {
  int verified = 0, mismatched = 0, failed = 0, interrupted = 0;
  for (const auto& result : results) {
    switch (result->outcome.verdict) {
      case Verdict::Verified:
        ++verified;
        break;
      case Verdict::Mismatch:
        ++mismatched;
        break;
      case Verdict::Interrupted:
        ++interrupted;
        break;
      default:
        ++failed;
    }
  }
  std::fprintf(out, "\n%zu drives: %d verified, %d mismatched, %d failed", results.size(), verified,
               mismatched, failed);
  if (interrupted > 0) std::fprintf(out, ", %d interrupted", interrupted);
  std::fputs("\n", out);
  for (const auto& result : results) {
    const Verdict verdict = result->outcome.verdict;
    if (verdict == Verdict::Verified) continue;
    std::string line = VerdictWord(verdict);
    if (verdict == Verdict::Mismatch) line = "flash does not match the file";
    if (result->recorder.error) {
      line = FailureText(*result->recorder.error);
    }
    std::fprintf(out, "  %s: %s\n", result->port.c_str(), line.c_str());
  }
  std::fflush(out);
}

// Each /c's run options, and the port's name; empty after saying why when
// two of them name one drive.
struct StationPorts {
  std::vector<RunOptions> options;
  std::vector<std::string> names;
};

std::optional<StationPorts> PortsOf(const RunOptions& options, const StationOptions& station,
                                    std::FILE* out) {
  StationPorts ports;
  for (const StationOptions::Port& port : station.ports) {
    RunOptions one = options;
    one.portNumber = port.portNumber;
    one.devicePath = port.devicePath;
    ports.names.push_back(PortNameOf(one));
    ports.options.push_back(std::move(one));
  }
  // Two threads on one drive would interleave their requests on its line.
  const std::vector<std::string>& names = ports.names;
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (!SameFile(names[i], names[j])) continue;
      std::fprintf(out, "Port %s is named twice (as %s): each /c names another drive\n",
                   names[i].c_str(), names[j].c_str());
      return std::nullopt;
    }
  }
  return ports;
}

// /o: a transcript file per port, all made before any drive is touched;
// empty after saying which could not be.
std::optional<std::vector<FirmwareFile>> OpenTranscripts(const std::optional<std::string>& folder,
                                                         const std::vector<std::string>& names,
                                                         std::FILE* err) {
  std::vector<FirmwareFile> transcripts(names.size());
  if (!folder) return transcripts;
  std::error_code error;
  std::filesystem::create_directories(*folder, error);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto path = std::filesystem::path(*folder) / TranscriptName(names[i]);
    transcripts[i].reset(std::fopen(path.string().c_str(), "wb"));
    if (!transcripts[i]) {
      std::fprintf(err, "Cannot write the transcript %s; nothing was sent to a drive\n",
                   path.string().c_str());
      return std::nullopt;
    }
  }
  return transcripts;
}

// What every port's thread shares: read-only but for the board and the
// journal, which take their own locks.
struct StationRun {
  const RunOptions& options;
  const DriveFamily& family;
  const PreparedImage& image;
  const RunPlan& plan;
  StationBoard& board;
  JournalFile& journal;
  std::chrono::system_clock::time_point start;
  const StopFlag* stop;
  std::FILE* err;
};

// One port's thread: the drive's run told to its row, its transcript and
// the journal's recorder, then its line (or two, for /u) in the journal.
void RunPort(const StationRun& run, std::size_t row, const RunOptions& options,
             const std::string& name, std::FILE* transcriptFile, DriveResult& result) {
  result.port = name;
  StationRowReport board(run.board, row);
  std::optional<ConsoleReport> transcript;
  std::vector<RunReport*> reports = {&board, &result.recorder};
  if (transcriptFile != nullptr) {
    // Byte for byte what kelvane prints for this drive.
    PrintBanner(transcriptFile);
    reports.push_back(&transcript.emplace(transcriptFile, run.err, false, false, false));
  }
  ReportFanOut report(reports);
  result.outcome = RunDrive({.options = options,
                             .family = run.family,
                             .image = run.image,
                             .report = report,
                             .stop = run.stop,
                             .trace = run.options.traceLink ? run.err : nullptr,
                             .traceLabel = name + ": "});
  if (transcriptFile != nullptr) std::fflush(transcriptFile);
  run.board.Finished(row, result.outcome.verdict);
  if (!run.options.journalPath) return;
  AppendJournalLines(
      run.journal,
      FinishJournalEntry(
          StartJournalEntry(options, run.family, run.image, run.plan, "kelvane-station", run.start),
          result.outcome, result.recorder, ExitStatusOf(result.outcome.verdict, run.plan.strict)),
      *run.options.journalPath, run.err);
}

// The station's exit status: Ctrl-C's, else 1 when any drive failed, 2
// when none failed but some did not match, 0 when all were verified.
int StationStatus(const std::vector<std::unique_ptr<DriveResult>>& results, const RunPlan& plan) {
  bool interrupted = false, failed = false, mismatched = false;
  for (const auto& result : results) {
    interrupted |= result->outcome.verdict == Verdict::Interrupted;
    mismatched |= result->outcome.verdict == Verdict::Mismatch;
    failed |= result->outcome.verdict != Verdict::Interrupted &&
              ExitStatusOf(result->outcome.verdict, plan.strict) == 1;
  }
  if (interrupted) return InterruptedStatus();
  return failed ? 1 : mismatched ? 2 : 0;
}

}  // namespace

void PrintStationUsage(std::FILE* out) {
  std::fputs(
      "Use: kelvane-station [options] /c<port> /c<port> ... filename\n"
      "\n"
      "Loads one firmware file into up to 64 drives at once, one port each. Every\n"
      "option means what it means for kelvane (/b /v /a /9 /m /s /d /p /r /e /t /j,\n"
      "/f<sha256> the file, /w<model>[,<revision>] the drives); each /c adds a port\n"
      "(/c3, /c/dev/ttyUSB0, /c\\\\.\\COM12), and a port is named once.\n"
      "\n"
      "    /o<folder> - save each drive's transcript as <folder>/<port>.txt\n"
      "    /j<file>   - append one JSON line per drive to the journal <file>\n"
      "    /i         - identify every drive, load nothing\n"
      "    /n         - dry run: check the file and show the plan, open no port\n"
      "    /l         - list the serial ports\n"
      "    /h, /?     - this help\n"
      "\n"
      "Exit status: 0 every drive verified, 1 any failed, 2 none failed but some\n"
      "did not match the file, 130 (1 on Windows) after Ctrl-C.\n",
      out);
}

int RunStation(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err, const StopFlag* stop) {
  const auto start = std::chrono::system_clock::now();
  RunOptions options;
  StationOptions station;
  const OptionsOutcome read = ReadOptions(arguments, rule, options, out, &station, err);
  if (read == OptionsOutcome::HelpShown || arguments.size() < 2) {
    PrintStationUsage(out);
    return read == OptionsOutcome::HelpShown ? 0 : 1;
  }
  if (read == OptionsOutcome::Refused) return 1;
  // A station is strict: a mismatched drive must not leave the line.
  options.strictStatus = true;
  if (read == OptionsOutcome::VersionShown) {
    std::fprintf(out, "kelvane-station %s\n", VERSION);
    return 0;
  }
  if (const std::optional<int> status = RunWithoutDrive(options, out, err, "\n")) return *status;
  const DriveFamily& family = LookUpDriveFamily(options.family);
  if (station.ports.empty()) {
    std::fputs("No port given: name each drive's port with /c (/c3, /c/dev/ttyUSB0)\n", out);
    return 1;
  }
  if (station.ports.size() > MAX_STATION_PORTS) {
    std::fprintf(out, "%zu ports given; a station loads at most %zu drives at once\n",
                 station.ports.size(), MAX_STATION_PORTS);
    return 1;
  }

  // Everything that could refuse the run does so before any port is opened.
  JournalFile journal;
  if (options.journalPath && !OpenJournal(journal, *options.journalPath, err)) return 1;
  const std::optional<StationPorts> ports = PortsOf(options, station, out);
  if (!ports) return 1;
  const std::vector<RunOptions>& portOptions = ports->options;
  const std::vector<std::string>& names = ports->names;
  std::optional<std::vector<FirmwareFile>> transcripts =
      OpenTranscripts(station.transcriptFolder, names, err);
  if (!transcripts) return 1;

  // The file is read and its image made once; every thread only reads it.
  const PreparedImage image = PrepareImageOf(options, family);
  const RunPlan plan = PlanRun(options, family, image);
  if (image.refused) {
    // No drive is touched for a file that none of them would take.
    ConsoleReport console(out, err);
    TellFileMessages(image, console);
    return 1;
  }
  if (const std::optional<Failure> refusal = PinRefusal(options, image)) {
    // Nor for a file that /f does not pin; the journal keeps, for each
    // drive, that its file was refused.
    ConsoleReport(out, err).Failed(*refusal);
    for (std::size_t i = 0; options.journalPath && i < names.size(); ++i) {
      JournalRecorder recorder;
      recorder.error = *refusal;
      AppendJournalLines(
          journal,
          FinishJournalEntry(
              StartJournalEntry(portOptions[i], family, image, plan, "kelvane-station", start),
              {.verdict = Verdict::FileRefused, .device = {}}, recorder, 1),
          *options.journalPath, err);
    }
    return 1;
  }

  // What is odd about the file is said once, before the drives' table.
  for (const FileMessage& message : image.messages.all())
    if (message.kind == FileMessageKind::Notice) std::fputs(message.text.c_str(), err);
  std::fflush(err);
  const bool redraw = EnableCursorMoves(out);
  StationBoard board(out, redraw, names, redraw ? TerminalSizeOf(out) : TerminalSize{});
  const StationRun run{.options = options,
                       .family = family,
                       .image = image,
                       .plan = plan,
                       .board = board,
                       .journal = journal,
                       .start = start,
                       .stop = stop,
                       .err = err};
  std::vector<std::unique_ptr<DriveResult>> results;
  for (std::size_t i = 0; i < names.size(); ++i) results.push_back(std::make_unique<DriveResult>());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < names.size(); ++i) {
      threads.emplace_back([&, i] {
        RunPort(run, i, portOptions[i], names[i], (*transcripts)[i].get(), *results[i]);
      });
    }
  }
  board.DrawFinal();
  PrintSummary(results, out);

  return StationStatus(results, plan);
}

}  // namespace kelvane
