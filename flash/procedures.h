#pragma once

#include <cstdio>

#include "flash/block_passes.h"
#include "flash/run_options.h"
#include "link/serial_port.h"

namespace kelvane {

// Each family's program-and-verify procedure, run once the link is up and the
// identity shown, with the family's blocks and limits. Returns 0 after the
// verdict line, whether or not the drive matched the file, and 1 after the
// message of a failure. `err` takes what the S-record readers add to a
// refusal (why a line is too long).
using FlashProcedure = int (*)(SerialPort& port, const RunOptions& options,
                               const BlockFamily& family, std::FILE* out, std::FILE* err);

int RunNymProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                    std::FILE* out, std::FILE* err);
// The TL3xx and the 27 series: a word image from S1/S2 records, and for the
// 27 series its checksum sector between the two passes.
int RunWordImageProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                          std::FILE* out, std::FILE* err);
int RunTK720Procedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                      std::FILE* out, std::FILE* err);
int RunTK720DigestProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                            std::FILE* out, std::FILE* err);

}  // namespace kelvane
