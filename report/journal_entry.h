#pragma once

#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "report/journal.h"
#include "run/drive_families.h"
#include "run/drive_run.h"
#include "run/run_plan.h"

namespace kelvane {

// The journal's part, shared by kelvane and the station: open it before any
// port (false after saying why on `err`), the facts known before the drive
// is touched, the rest once its run has ended, and the line appended.
bool OpenJournal(JournalFile& journal, const std::string& path, std::FILE* err);
JournalEntry StartJournalEntry(const RunOptions& options, const DriveFamily& family,
                               const PreparedImage& image, const RunPlan& plan, const char* program,
                               std::chrono::system_clock::time_point start);
// One entry per operation: a backup and load (/u old new) is the backup,
// naming the file it wrote, then the load, when the backup was saved.
std::vector<JournalEntry> FinishJournalEntry(JournalEntry entry, const DriveOutcome& outcome,
                                             const JournalRecorder& recorder, int status);
bool AppendJournalLines(JournalFile& journal, std::span<const JournalEntry> entries,
                        const std::string& path, std::FILE* err);

}  // namespace kelvane
