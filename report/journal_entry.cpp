#include "report/journal_entry.h"

namespace kelvane {

bool OpenJournal(JournalFile& journal, const std::string& path, std::FILE* err) {
  std::string reason;
  if (journal.Open(path, reason)) return true;
  std::fprintf(err, "Cannot open the journal %s for appending: %s; nothing was sent to a drive\n",
               path.c_str(), reason.c_str());
  std::fflush(err);
  return false;
}

JournalEntry StartJournalEntry(const RunOptions& options, const DriveFamily& family,
                               const PreparedImage& image, const RunPlan& plan, const char* program,
                               std::chrono::system_clock::time_point start) {
  JournalEntry entry;
  entry.start = start;
  entry.program = program;
  entry.host = HostName();
  entry.port = PortNameOf(options);
  entry.baud = options.baudRate;
  entry.family = family.journalName;
  entry.operation = plan.operation;
  entry.backsUp = options.backupFileName.has_value();
  if (!plan.clears && plan.loads) entry.file = options.fileName;
  entry.fileSha256 = image.fileSha256;
  entry.blocks = plan.blocks;
  entry.imageBytes = plan.bytes;
  return entry;
}

std::vector<JournalEntry> FinishJournalEntry(JournalEntry entry, const DriveOutcome& outcome,
                                             const JournalRecorder& recorder, int status) {
  entry.seconds =
      std::chrono::duration<double>(std::chrono::system_clock::now() - entry.start).count();
  if (!outcome.device.empty()) entry.device = outcome.device;
  entry.drive = recorder.drive;
  entry.driveMd5 = recorder.driveMd5;
  // The blocks the run completed, not those it planned: none without a
  // link, 2 for a run stopped at its third.
  if (entry.blocks) entry.blocks = recorder.blocksDone;
  entry.verdict = outcome.verdict;
  entry.error = recorder.error;
  entry.status = status;
  if (!entry.backsUp) return {entry};
  const bool loads = std::string_view(entry.operation) != "backup";
  // The backup records the file it wrote, as a load records the one it
  // read, and the blocks it read.
  JournalEntry backup = entry;
  backup.operation = "backup";
  backup.file = recorder.savedFile;
  backup.fileSha256 = recorder.savedSha256;
  backup.imageBytes = recorder.savedFile ? std::optional<int>(recorder.savedBytes) : std::nullopt;
  backup.blocks = recorder.savedFile ? recorder.savedBlocks : recorder.blocksDone;
  if (!loads || !recorder.savedFile) return {backup};
  // Saved: the backup went well, whatever the load then did.
  backup.verdict = Verdict::BackupSaved;
  backup.error.reset();
  return {backup, entry};
}

bool AppendJournalLines(JournalFile& journal, std::span<const JournalEntry> entries,
                        const std::string& path, std::FILE* err) {
  bool all = true;
  for (const JournalEntry& entry : entries) all = journal.Append(JournalLine(entry)) && all;
  if (all) return true;
  std::fprintf(err, "Cannot append to the journal %s: the run is not recorded\n", path.c_str());
  std::fflush(err);
  return false;
}

}  // namespace kelvane
