#include "report/verdict_words.h"

#include <iterator>

namespace kelvane {

namespace {

struct VerdictWords {
  Verdict verdict;
  const char* journal;
  const char* board;
};

// Lines written before identify and backup had verdicts of their own say
// "verified" for them; readers of the journal match that word.
constexpr VerdictWords VERDICT_WORDS[] = {
    {Verdict::Verified, "verified", "verified"},
    {Verdict::IdentityShown, "verified", "verified"},
    {Verdict::BackupSaved, "verified", "verified"},
    {Verdict::Mismatch, "mismatch", "MISMATCH"},
    {Verdict::Failed, "failed", "FAILED"},
    {Verdict::NoLink, "no-link", "FAILED"},
    {Verdict::PortFailed, "port-failed", "FAILED"},
    {Verdict::FileRefused, "file-refused", "FAILED"},
    {Verdict::Interrupted, "interrupted", "interrupted"},
    {Verdict::WrongDrive, "wrong-drive", "WRONG DRIVE"},
};

const VerdictWords& WordsFor(Verdict verdict) {
  for (const VerdictWords& words : VERDICT_WORDS) {
    if (words.verdict == verdict) return words;
  }
  return VERDICT_WORDS[std::size(VERDICT_WORDS) - 1];
}

}  // namespace

const char* JournalVerdict(Verdict verdict) {
  return WordsFor(verdict).journal;
}

const char* VerdictWord(Verdict verdict) {
  return WordsFor(verdict).board;
}

}  // namespace kelvane
