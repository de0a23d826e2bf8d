#pragma once

#include "flash/run_report.h"

namespace kelvane {

// A verdict as a journal records it ("no-link"), and as a station's row and
// summary show it ("FAILED").
const char* JournalVerdict(Verdict verdict);
const char* VerdictWord(Verdict verdict);

}  // namespace kelvane
