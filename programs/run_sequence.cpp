#include "programs/run_sequence.h"

#include <chrono>
#include <ctime>

#include "programs/dry_run.h"
#include "programs/port_listing.h"
#include "programs/terminal.h"
#include "report/console_report.h"
#include "report/journal.h"
#include "run/drive_families.h"
#include "run/drive_guards.h"
#include "run/drive_run.h"

namespace kelvane {

namespace {

constexpr const char* NO_FIRMWARE_FILE = "S-record file with firmware is not specified\r\n";

const char* OperationOf(const RunOptions& options) {
  if (options.identifyOnly) return "identify";
  if (options.backupFileName) return options.fileName ? "backup-and-load" : "backup";
  if (options.verifyOnly) return "verify";
  // Only the Nym drive is erased; the other families load their file.
  if (options.family == DeviceFamily::Nym && options.clearMode == ClearMode::EntireFlash)
    return "clear";
  if (options.family == DeviceFamily::Nym && options.clearMode == ClearMode::ParametersSection)
    return "clear-parameters";
  return "load";
}

}  // namespace

bool OpenJournal(JournalFile& journal, const std::string& path, std::FILE* err) {
  std::string reason;
  if (journal.Open(path, reason)) return true;
  std::fprintf(err, "Cannot open the journal %s for appending: %s; nothing was sent to a drive\n",
               path.c_str(), reason.c_str());
  std::fflush(err);
  return false;
}

JournalEntry StartJournalEntry(const RunOptions& options, const DriveFamily& family,
                               const PreparedImage& image, const char* program,
                               std::chrono::system_clock::time_point start) {
  JournalEntry entry;
  entry.start = start;
  entry.program = program;
  entry.host = HostName();
  entry.port = PortNameOf(options);
  entry.baud = options.baudRate;
  entry.family = family.journalName;
  entry.operation = OperationOf(options);
  const bool clears = family.family == DeviceFamily::Nym && options.clearMode != ClearMode::None;
  if (!clears && LoadsAFile(options)) entry.file = options.fileName;
  entry.fileSha256 = image.fileSha256;
  if (!image.refused && LoadsAFile(options)) {
    // A clear sends erased sectors, not a file's image: its bytes are those
    // of the sectors it sends, as a dry run counts them.
    entry.blocks = image.total - image.first;
    entry.imageBytes =
        clears ? *entry.blocks * static_cast<int>(family.blocks->blockSize) : image.length;
  }
  return entry;
}

void FinishJournalEntry(JournalEntry& entry, const DriveOutcome& outcome,
                        const JournalRecorder& recorder, int status) {
  entry.seconds =
      std::chrono::duration<double>(std::chrono::system_clock::now() - entry.start).count();
  if (!outcome.device.empty()) entry.device = outcome.device;
  entry.drive = recorder.drive;
  // A backup alone records the file it wrote, as a load records the one it
  // read.
  if (recorder.savedFile && !entry.file) {
    entry.file = recorder.savedFile;
    entry.fileSha256 = recorder.savedSha256;
    entry.imageBytes = recorder.savedBytes;
  }
  entry.verdict = outcome.verdict;
  entry.error = recorder.error;
  entry.status = status;
}

bool AppendJournalLine(JournalFile& journal, const JournalEntry& entry, const std::string& path,
                       std::FILE* err) {
  if (journal.Append(JournalLine(entry))) return true;
  std::fprintf(err, "Cannot append to the journal %s: the run is not recorded\n", path.c_str());
  std::fflush(err);
  return false;
}

int RunKelvane(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err, const StopFlag* stop) {
  const auto start = std::chrono::system_clock::now();
  RunOptions options;
  PrintBanner(out);
  if (arguments.size() < 2) {
    std::fputs(NO_FIRMWARE_FILE, out);
    return 1;
  }
  const OptionsOutcome outcome = ReadOptions(arguments, rule, options, out, nullptr, err);
  if (outcome != OptionsOutcome::Run) return outcome == OptionsOutcome::Refused ? 1 : 0;
  if (options.listPorts) {
    PrintSerialPorts(out);
    return 0;
  }
  // A clear option stands in for the file: the Nym drive is then erased. A
  // backup alone, or the identity alone, needs none.
  if (!NamesWhatToLoad(options)) {
    std::fputs(NO_FIRMWARE_FILE, out);
    return 1;
  }
  const DriveFamily& family = LookUpDriveFamily(options.family);
  if (options.dryRun) return RunDryRun(options, family, out, err);
  // A line must not flash a drive it cannot record.
  JournalFile journal;
  if (options.journalPath && !OpenJournal(journal, *options.journalPath, err)) return 1;

  // The file is read and its image made before the port is opened; what
  // reading it said is told where the procedure reads its file, after the
  // drive's identity, as it always was.
  const PreparedImage image = PrepareImageOf(options, family);
  const bool terminal = IsTerminal(out);
  ConsoleReport console(out, err, options.traceLink || terminal, terminal);
  JournalRecorder recorder;
  ReportFanOut report({&console, &recorder});
  DriveOutcome drive;
  if (const std::optional<std::string> refusal = PinRefusal(options, image)) {
    // Not the file /f pins: no port is opened for it.
    report.Failed(Failure(Stage::File, *refusal));
    drive.verdict = Verdict::FileRefused;
  } else {
    drive = RunDrive({.options = options,
                      .family = family,
                      .image = image,
                      .report = report,
                      .stop = stop,
                      .trace = options.traceLink ? err : nullptr});
  }
  std::fflush(out);
  int status = ExitStatusOf(drive.verdict, options.strictStatus);
  if (options.journalPath) {
    JournalEntry entry = StartJournalEntry(options, family, image, "kelvane", start);
    FinishJournalEntry(entry, drive, recorder, status);
    if (!AppendJournalLine(journal, entry, *options.journalPath, err) && status == 0) status = 1;
  }
  return status;
}

}  // namespace kelvane
