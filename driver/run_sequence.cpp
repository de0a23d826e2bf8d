#include "driver/run_sequence.h"

#include <optional>

#include "driver/drive_families.h"
#include "driver/dry_run.h"
#include "driver/port_listing.h"
#include "link/drive_commands.h"
#include "link/frame_exchange.h"
#include "link/late_replies.h"
#include "link/link_trace.h"

namespace kelvane {

namespace {

constexpr const char* NO_FIRMWARE_FILE = "S-record file with firmware is not specified\r\n";

// The failure message keeps its one line; what the system said, and the
// device that was tried (/c9 is /dev/ttyS8 on Linux), go to `err`.
void TellWhyNotOpen(const SerialPort& port, std::FILE* err) {
  std::fprintf(err, "Cannot open %s\n", port.DescribeOpenFailure().c_str());
  std::fflush(err);
}

// Opens the COM port or, with /c<path>, the named serial device, and says so.
// Returns false after the failure message.
bool OpenPort(SerialPort& port, const RunOptions& options, std::FILE* out, std::FILE* err) {
  if (options.devicePath) {
    const char* path = options.devicePath->c_str();
    if (port.OpenPath(path, options.baudRate) != 1) {
      std::fprintf(out, "Failed to open %s port\r\n", path);
      std::fflush(out);
      TellWhyNotOpen(port, err);
      return false;
    }
    std::fprintf(out, "%s open at %d baud\r\n", path, options.baudRate);
  } else {
    if (port.Open(options.portNumber, options.baudRate) != 1) {
      std::fprintf(out, "Failed to open COM%d port\r\n", options.portNumber);
      std::fflush(out);
      TellWhyNotOpen(port, err);
      return false;
    }
    std::fprintf(out, "COM%d open at %d baud\r\n", options.portNumber, options.baudRate);
  }
  std::fflush(out);
  return true;
}

// A run that failed because the device itself went away says so on `err`,
// after the failure message it already printed.
int TellIfGone(SerialPort& port, std::FILE* out, std::FILE* err) {
  if (port.WaitForHangUp()) {
    std::fflush(out);
    std::fprintf(err, "%s\n", port.DescribeLoss().c_str());
    std::fflush(err);
  }
  return 1;
}

}  // namespace

int EstablishLink(SerialPort& port, int attempts, std::size_t shortestIdentity,
                  std::span<const std::uint8_t>& identity, std::FILE* out) {
  // A drive that is powering up or busy may miss a few requests; any failed
  // exchange counts as one attempt, and only the identify request is retried.
  // So does a reply too short for an identity: nothing in a reply says which
  // request it answers, and this one answers another's (a write's, say, sent
  // by a loader stopped before it read it), so the drive's replies now run
  // one behind.
  for (int remaining = attempts; remaining > 0; --remaining) {
    if (TransactEmpty(port, CMD_IDENTIFY, identity) == LINK_OK) {
      if (identity.size() >= shortestIdentity) {
        // A failed attempt may have failed only by being answered late: its
        // reply, or the rest of a long noise, is still coming and would be
        // read as the answer to the procedure's first request.
        if (remaining < attempts) DiscardLateReplies(port);
        return 0;
      }
      if (port.trace != nullptr) port.trace->NoIdentity(identity.size(), shortestIdentity);
    }
    std::fprintf(out, "Trying to establish link with device %4d\r", remaining);
    std::fflush(out);
    // No attempt can reach a device that is no longer there.
    if (port.DeviceGone()) break;
  }
  std::fputs("Failed to establish connection with selected device\r\n\r\n", out);
  return 1;
}

int RunKelvane(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err) {
  SerialPort port;
  RunOptions options;
  PrintBanner(out);
  if (arguments.size() < 2) {
    std::fputs(NO_FIRMWARE_FILE, out);
    return 1;
  }
  const OptionsOutcome outcome = ReadOptions(arguments, rule, options, out);
  if (outcome != OptionsOutcome::Run) return outcome == OptionsOutcome::Refused ? 1 : 0;
  if (options.listPorts) {
    PrintSerialPorts(out);
    return 0;
  }
  // A clear option stands in for the file: the Nym drive is then erased. A
  // backup alone, or the identity alone, needs none.
  if (!options.fileName && options.clearMode == ClearMode::None && !options.backupFileName &&
      !options.identifyOnly) {
    std::fputs(NO_FIRMWARE_FILE, out);
    return 1;
  }
  const DriveFamily& family = LookUpDriveFamily(options.family);
  if (options.dryRun) return RunDryRun(options, family, out, err);
  std::optional<LinkTrace> trace;
  if (options.traceLink) port.trace = &trace.emplace(err);
  if (!OpenPort(port, options, out, err)) return 1;

  std::span<const std::uint8_t> identity;
  if (EstablishLink(port, options.linkAttempts, family.shortestIdentity, identity, out) != 0)
    return TellIfGone(port, out, err);
  std::fputs("Connection with device established.\r\n\r\n", out);
  std::fputs("Device details:\r\n", out);
  family.showIdentity(identity, out);
  std::fputs("\r\n", out);
  std::fflush(out);

  if (options.identifyOnly) return 0;
  // The firmware the drive holds is saved before anything replaces it, and
  // nothing is loaded unless the backup is complete.
  if (options.backupFileName) {
    if (RunBackupProcedure(port, options, *family.blocks, family.backup, out) != PROCEDURE_MATCHED)
      return 1;
    if (!options.fileName) return 0;
  }

  const int verdict = family.procedure(port, options, *family.blocks, out, err);
  std::fflush(out);
  if (verdict == PROCEDURE_FAILED) return TellIfGone(port, out, err);
  // The classic run ends a mismatch with status 0 and tells it in words only.
  return verdict == PROCEDURE_MISMATCH && options.strictStatus ? 2 : 0;
}

}  // namespace kelvane
