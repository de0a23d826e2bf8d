#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "flash/block_passes.h"
#include "flash/run_options.h"
#include "link/serial_port.h"

namespace kelvane {

// Reads the firmware image a family's drive holds and turns it into the
// family's own firmware file, the one whose load writes that image back.
// Returns 0 with the file's bytes, or 1 after saying why there is none (a
// failed read, erased flash, or flash that holds no image of the family).
using FirmwareBackup = int (*)(SerialPort& port, const BlockFamily& family,
                               std::vector<std::uint8_t>& file, std::FILE* out);

// Nym: the record stream, up to its end marker, as S2/S3/S7/S8 lines.
int BackUpRecordStream(SerialPort& port, const BlockFamily& family, std::vector<std::uint8_t>& file,
                       std::FILE* out);
// TL3xx and 27 series: the word image as S1/S2 records; its length from its
// checksum (TL3xx) or from the checksum sector (27 series).
int BackUpWordImage(SerialPort& port, const BlockFamily& family, std::vector<std::uint8_t>& file,
                    std::FILE* out);
// TK720: the binary image file, the check word left for the load to add.
int BackUpChecksummedImage(SerialPort& port, const BlockFamily& family,
                           std::vector<std::uint8_t>& file, std::FILE* out);

// Backs the drive's firmware up into the file that /u named, replacing it
// only with a complete backup. Returns PROCEDURE_MATCHED after the line that
// names the file and its size, or PROCEDURE_FAILED after the failure's
// message, no file then written.
int RunBackupProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                       FirmwareBackup backup, std::FILE* out);

}  // namespace kelvane
