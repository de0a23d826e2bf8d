#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "flash/block_passes.h"
#include "flash/procedures.h"
#include "flash/run_options.h"
#include "flash/run_report.h"
#include "link/frame_exchange.h"

namespace kelvane {

// Reads the firmware image a family's drive holds and turns it into the
// family's own firmware file, the one whose load writes that image back.
// Completed with the file's bytes, or Failed after reporting why there is
// none (a failed read, erased flash, or flash that holds no image of the
// family), or Interrupted.
using FirmwareBackup = PassEnd (*)(FrameExchange& link, const BlockFamily& family,
                                   std::vector<std::uint8_t>& file, RunReport& report,
                                   const StopFlag* stop);

// Nym: the record stream, up to its end marker, as S2/S3/S7/S8 lines.
PassEnd BackUpRecordStream(FrameExchange& link, const BlockFamily& family,
                           std::vector<std::uint8_t>& file, RunReport& report,
                           const StopFlag* stop);
// TL3xx and 27 series: the word image as S1/S2 records; its length from its
// checksum (TL3xx) or from the checksum sector (27 series).
PassEnd BackUpWordImage(FrameExchange& link, const BlockFamily& family,
                        std::vector<std::uint8_t>& file, RunReport& report, const StopFlag* stop);
// TK720: the binary image file, the check word left for the load to add.
PassEnd BackUpChecksummedImage(FrameExchange& link, const BlockFamily& family,
                               std::vector<std::uint8_t>& file, RunReport& report,
                               const StopFlag* stop);

// Backs the drive's firmware up into the file that /u named, replacing it
// only with a complete backup. Verified once the file is saved (reported
// with its name and bytes), else Failed or Interrupted, reported, no file
// then written.
Verdict RunBackupProcedure(const ProcedureRun& run, FirmwareBackup backup);

}  // namespace kelvane
