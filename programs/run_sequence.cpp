#include "programs/run_sequence.h"

#include <chrono>
#include <ctime>

#include "programs/dry_run.h"
#include "programs/terminal.h"
#include "report/console_report.h"
#include "report/journal_entry.h"
#include "run/drive_families.h"
#include "run/drive_guards.h"
#include "run/drive_run.h"

namespace kelvane {

int RunKelvane(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err, const StopFlag* stop) {
  const auto start = std::chrono::system_clock::now();
  RunOptions options;
  PrintBanner(out);
  if (arguments.size() < 2) {
    PrintNoFirmwareFile(out, "\r\n");
    return 1;
  }
  const OptionsOutcome outcome = ReadOptions(arguments, rule, options, out, nullptr, err);
  if (outcome != OptionsOutcome::Run) return outcome == OptionsOutcome::Refused ? 1 : 0;
  if (const std::optional<int> status = RunWithoutDrive(options, out, err, "\r\n")) return *status;
  const DriveFamily& family = LookUpDriveFamily(options.family);
  // A line must not flash a drive it cannot record.
  JournalFile journal;
  if (options.journalPath && !OpenJournal(journal, *options.journalPath, err)) return 1;

  // The file is read and its image made before the port is opened; what
  // reading it said is told where the procedure reads its file, after the
  // drive's identity, as it always was.
  const PreparedImage image = PrepareImageOf(options, family);
  const RunPlan plan = PlanRun(options, family, image);
  const bool terminal = IsTerminal(out);
  ConsoleReport console(out, err, options.traceLink || terminal, terminal);
  JournalRecorder recorder;
  ReportFanOut report({&console, &recorder});
  const DriveOutcome drive = RunDrive({.options = options,
                                       .family = family,
                                       .image = image,
                                       .report = report,
                                       .stop = stop,
                                       .trace = options.traceLink ? err : nullptr});
  std::fflush(out);
  int status = ExitStatusOf(drive.verdict, plan.strict);
  if (options.journalPath) {
    const std::vector<JournalEntry> entries = FinishJournalEntry(
        StartJournalEntry(options, family, image, plan, "kelvane", start), drive, recorder, status);
    if (!AppendJournalLines(journal, entries, *options.journalPath, err) && status == 0) status = 1;
  }
  return status;
}

}  // namespace kelvane
