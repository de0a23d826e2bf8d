#pragma once

#include <cstdint>
#include <span>

#include "flash/block_passes.h"
#include "flash/firmware_backup.h"
#include "flash/prepared_image.h"
#include "flash/procedures.h"
#include "flash/run_options.h"
#include "flash/run_report.h"

namespace kelvane {

// What a run does differently for one drive family: how its monitor's
// identify reply reads, and how its flash is loaded and checked (the blocks,
// addresses and image limits are the block family's).
struct DriveFamily {
  DeviceFamily family;
  // As a dry run names it, and as a journal does.
  const char* name;
  const char* journalName;
  DriveIdentity (*describeIdentity)(std::span<const std::uint8_t> reply);
  // The shortest identify reply of the family's layout: a shorter reply is no
  // identity but another request's, such as a late write reply.
  std::size_t shortestIdentity;
  FlashProcedure procedure;
  // The image preparation, done once before any port is opened.
  ImagePreparation prepare;
  const BlockFamily* blocks;
  // How /u reads the firmware back into a file; null where the monitor
  // reads no blocks.
  FirmwareBackup backup;
};

const DriveFamily& LookUpDriveFamily(DeviceFamily family);

}  // namespace kelvane
