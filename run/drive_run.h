#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "flash/block_passes.h"
#include "flash/prepared_image.h"
#include "flash/run_options.h"
#include "flash/run_report.h"
#include "link/frame_exchange.h"
#include "run/drive_families.h"
#include "run/interrupted_status.h"
#include "run/run_plan.h"

namespace kelvane {

// The port as the command line named it: "COM3", or the device path.
std::string PortNameOf(const RunOptions& options);

// How waiting for the drive ended.
enum class LinkEnd { Established, GaveUp, Interrupted };

// Sends the identify request until the drive answers with an identity of at
// least `shortestIdentity` bytes, at most `attempts` times, each failed
// attempt reported. On Established `identity` views the reply. When an
// attempt failed first, the replies still on their way to it are let pass
// before this returns.
LinkEnd EstablishLink(FrameExchange& link, int attempts, std::size_t shortestIdentity,
                      std::span<const std::uint8_t>& identity, RunReport& report,
                      const StopFlag* stop);

// One drive's run, the same in kelvane, in each of a station's threads and
// in the C library: refuse a file /f does not pin (no port opened), open the
// port, establish the link, report the identity, run the family's
// procedure on the image prepared before. Everything is reported to
// `report`; the port is closed, its settings given back, before this returns.
struct DriveJob {
  const RunOptions& options;
  const DriveFamily& family;
  const PreparedImage& image;
  RunReport& report;
  const StopFlag* stop = nullptr;
  // /t: where the link trace goes, if anywhere.
  std::FILE* trace = nullptr;
  // What begins each trace line: the port, in a station.
  std::string traceLabel = {};
};

struct DriveOutcome {
  Verdict verdict = Verdict::Failed;
  std::string device;  // what was opened, as the system names it
};

DriveOutcome RunDrive(const DriveJob& job);

// Whether the command line says what the run is for: a file, a backup, the
// identity, or a Nym drive's clear, which stands in for its file (no other
// family is cleared, so /a /d alone names nothing to load).
bool NamesWhatToLoad(const RunOptions& options);
// The image the run sends, prepared once before any port is opened (stamped
// now for a digest drive); empty when the run loads nothing.
PreparedImage PrepareImageOf(const RunOptions& options, const DriveFamily& family);

// The exit status kelvane ends a drive's run with: 0 when the run reached
// its verdict (2 for a mismatch with the strict status), InterruptedStatus()
// after Ctrl-C, 1 for anything else.
int ExitStatusOf(Verdict verdict, bool strict);

}  // namespace kelvane
