#pragma once

#include "flash/block_passes.h"
#include "flash/prepared_image.h"
#include "flash/run_options.h"
#include "flash/run_report.h"
#include "link/frame_exchange.h"

namespace kelvane {

// Everything a family's procedure works with: the exchange over the open
// line with the drive answering, the options, the family's blocks, the image prepared before the
// port was opened (shared read-only between the drives of a station), where
// to report, and the stop a Ctrl-C sets.
struct ProcedureRun {
  FrameExchange& link;
  const RunOptions& options;
  const BlockFamily& family;
  const PreparedImage& image;
  RunReport& report;
  const StopFlag* stop = nullptr;
};

// Each family's program-and-verify procedure, run once the link is up and
// the identity reported. Tells what the file said (or its refusal), then
// writes and verifies, and returns Verified, Mismatch, Failed, FileRefused
// or Interrupted, each reported.
using FlashProcedure = Verdict (*)(const ProcedureRun& run);

// The verdict a procedure ends with when one of its passes did not
// complete: the failure the pass reported, or a Ctrl-C it honoured.
inline Verdict VerdictOfUnfinished(PassEnd end) {
  return end == PassEnd::Failed ? Verdict::Failed : Verdict::Interrupted;
}

// Tells the file's messages; false after reporting its refusal.
bool TellFileMessages(const PreparedImage& image, RunReport& report);

// Writes the image (unless verify-only), reads every block back and gives
// the verdict: the Nym and TK720 procedures, which differ only in their
// images.
Verdict RunReadBackProcedure(const ProcedureRun& run);
// The TL3xx and the 27 series: for the 27 series its checksum sector
// between the two passes.
Verdict RunWordImageProcedure(const ProcedureRun& run);
Verdict RunTK720DigestProcedure(const ProcedureRun& run);

}  // namespace kelvane
