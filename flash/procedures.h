#pragma once

#include <cstdio>

#include "flash/block_passes.h"
#include "flash/prepared_image.h"
#include "flash/run_options.h"
#include "link/serial_port.h"

namespace kelvane {

// After the verdict line, the drive's flash matching the file or not; or
// after the message of a failure. The driver ends a mismatch with status 0
// unless the strict exit status was asked for.
inline constexpr int PROCEDURE_MATCHED = 0;
inline constexpr int PROCEDURE_FAILED = 1;
inline constexpr int PROCEDURE_MISMATCH = 2;

inline int Verdict(bool matched) {
  return matched ? PROCEDURE_MATCHED : PROCEDURE_MISMATCH;
}

// Each family's program-and-verify procedure, run once the link is up and the
// identity shown, with the family's blocks and limits. Returns one of the
// PROCEDURE_ values above. `err` takes what the S-record readers add to a
// refusal (why a line is too long).
using FlashProcedure = int (*)(SerialPort& port, const RunOptions& options,
                               const BlockFamily& family, std::FILE* out, std::FILE* err);

// Prepares the image, writes it (unless verify-only), reads every block back
// and gives the verdict: the Nym and TK720 procedures, which differ only in
// their images.
int RunReadBackProcedure(SerialPort& port, const RunOptions& options, const BlockFamily& family,
                         ImagePreparation prepare, std::FILE* out, std::FILE* err);
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
