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
  if (!plan.clears && plan.loads) entry.file = options.fileName;
  entry.fileSha256 = image.fileSha256;
  entry.blocks = plan.blocks;
  entry.imageBytes = plan.bytes;
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

}  // namespace kelvane
