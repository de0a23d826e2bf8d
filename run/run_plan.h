#pragma once

#include <optional>

#include "flash/prepared_image.h"
#include "flash/run_options.h"
#include "run/drive_families.h"

namespace kelvane {

// What a run does, decided once from its options and the image prepared for
// it before any port is opened; the dry run, both programs and the journal
// read it rather than each working it out again.
struct RunPlan {
  const char* operation = "load";  // as the journal names it
  // Loads, verifies or clears: neither a bare identify nor a backup alone.
  bool loads = false;
  // A Nym drive erased: its clear stands in for a file (no other family is
  // cleared).
  bool clears = false;
  // The blocks written or verified and the bytes they carry: a clear's are
  // those of the erased sectors it sends. Empty when no image is sent: the
  // run loads nothing, or its file was refused.
  std::optional<int> blocks;
  std::optional<int> bytes;
  // A mismatch ends with status 2 rather than 0.
  bool strict = false;
};

// Whether the run loads, verifies or clears at all, known before its image
// is prepared.
bool LoadsAFile(const RunOptions& options);
RunPlan PlanRun(const RunOptions& options, const DriveFamily& family, const PreparedImage& image);

}  // namespace kelvane
