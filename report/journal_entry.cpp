#include "report/journal_entry.h"

namespace kelvane {

namespace {

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
  // The blocks the run completed, not those it planned: none without a
  // link, 2 for a run stopped at its third; a backup alone, those it read.
  if (entry.blocks || recorder.savedFile) entry.blocks = recorder.blocksDone;
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

}  // namespace kelvane
