#include "run/drive_run.h"

#include <ctime>
#include <optional>

#include "flash/procedures.h"
#include "link/drive_commands.h"
#include "link/frame_exchange.h"
#include "link/late_replies.h"
#include "link/link_trace.h"
#include "link/serial_port.h"
#include "run/drive_guards.h"

namespace kelvane {

namespace {

// A run that failed because the device itself went away says so, after the
// failure message it already gave.
void TellIfGone(SerialPort& port, RunReport& report) {
  if (port.WaitForHangUp()) report.DeviceLost(port.device());
}

}  // namespace

std::string PortNameOf(const RunOptions& options) {
  return options.devicePath ? *options.devicePath : "COM" + std::to_string(options.portNumber);
}

LinkEnd EstablishLink(FrameExchange& link, int attempts, std::size_t shortestIdentity,
                      std::span<const std::uint8_t>& identity, RunReport& report,
                      const StopFlag* stop) {
  // A drive that is powering up or busy may miss a few requests; any failed
  // exchange counts as one attempt, and only the identify request is retried.
  // So does a reply too short for an identity: nothing in a reply says which
  // request it answers, and this one answers another's (a write's, say, sent
  // by a loader stopped before it read it), so the drive's replies now run
  // one behind.
  for (int remaining = attempts; remaining > 0; --remaining) {
    if (StopAsked(stop)) {
      report.Interrupted(std::nullopt, 0, {});
      return LinkEnd::Interrupted;
    }
    if (link.TransactEmpty(CMD_IDENTIFY, identity).ok()) {
      if (identity.size() >= shortestIdentity) {
        // A failed attempt may have failed only by being answered late: its
        // reply, or the rest of a long noise, is still coming and would be
        // read as the answer to the procedure's first request.
        if (remaining < attempts) DiscardLateReplies(link);
        return LinkEnd::Established;
      }
      if (link.trace() != nullptr) link.trace()->NoIdentity(identity.size(), shortestIdentity);
    }
    report.LinkAttemptFailed(remaining);
    // No attempt can reach a device that is no longer there.
    if (link.line().DeviceGone()) break;
  }
  report.Failed(Failure(Stage::Link, FailureReason::LinkGaveUp));
  return LinkEnd::GaveUp;
}

DriveOutcome RunDrive(const DriveJob& job) {
  const RunOptions& options = job.options;
  if (std::optional<Failure> refusal = PinRefusal(options, job.image)) {
    // Not the file /f pins: no port is opened for it.
    job.report.Failed(*refusal);
    return {.verdict = Verdict::FileRefused, .device = {}};
  }
  SerialPort port;
  std::optional<LinkTrace> trace;
  if (job.trace != nullptr) trace.emplace(job.trace, job.traceLabel);
  const std::string name = PortNameOf(options);
  const OpenResult opened = options.devicePath
                                ? port.OpenPath(options.devicePath->c_str(), options.baudRate)
                                : port.Open(options.portNumber, options.baudRate);
  DriveOutcome outcome{.device = port.device()};
  if (opened != OpenResult::Opened) {
    // The failure line keeps its one line; what the system said, and the
    // device that was tried (/c9 is /dev/ttyS8 on Linux), go with it.
    Failure failure(Stage::Port, FailureReason::PortNotOpened);
    failure.name = name;
    failure.detail = port.DescribeOpenFailure();
    job.report.Failed(failure);
    outcome.verdict = Verdict::PortFailed;
    return outcome;
  }
  job.report.PortOpened(name, options.baudRate);

  FrameExchange link(port, trace ? &*trace : nullptr);
  std::span<const std::uint8_t> identity;
  switch (EstablishLink(link, options.linkAttempts, job.family.shortestIdentity, identity,
                        job.report, job.stop)) {
    case LinkEnd::Established:
      break;
    case LinkEnd::GaveUp:
      outcome.verdict = Verdict::NoLink;
      TellIfGone(port, job.report);
      return outcome;
    case LinkEnd::Interrupted:
      outcome.verdict = Verdict::Interrupted;
      return outcome;
  }
  const DriveIdentity shown = job.family.describeIdentity(identity);
  job.report.LinkEstablished(shown);
  // A file refused is told first, where it always was; only then is the
  // drive itself judged, before any block is read or written.
  if (LoadsAFile(options) && !options.backupFileName && job.image.refused) {
    TellFileMessages(job.image, job.report);
    outcome.verdict = Verdict::FileRefused;
    return outcome;
  }
  if (const std::optional<Failure> refusal = DriveRefusal(options, job.family, shown)) {
    job.report.Failed(*refusal);
    outcome.verdict = Verdict::WrongDrive;
    return outcome;
  }
  if (options.identifyOnly) {
    outcome.verdict = Verdict::IdentityShown;
    return outcome;
  }
  const ProcedureRun run{.link = link,
                         .options = options,
                         .family = *job.family.blocks,
                         .image = job.image,
                         .report = job.report,
                         .stop = job.stop};
  // The firmware the drive holds is saved before anything replaces it, and
  // nothing is loaded unless the backup is complete.
  if (options.backupFileName) {
    outcome.verdict = RunBackupProcedure(run, job.family.backup);
    if (outcome.verdict == Verdict::Failed) TellIfGone(port, job.report);
    if (outcome.verdict != Verdict::BackupSaved || !options.fileName) return outcome;
  }
  outcome.verdict = job.family.procedure(run);
  if (outcome.verdict == Verdict::Failed) TellIfGone(port, job.report);
  return outcome;
}

bool NamesWhatToLoad(const RunOptions& options) {
  return options.fileName || options.backupFileName || options.identifyOnly ||
         (options.family == DeviceFamily::Nym && options.clearMode != ClearMode::None);
}

PreparedImage PrepareImageOf(const RunOptions& options, const DriveFamily& family) {
  if (!LoadsAFile(options)) return PreparedImage{};
  return family.prepare(options, *family.blocks, static_cast<std::uint32_t>(std::time(nullptr)));
}

int ExitStatusOf(Verdict verdict, bool strict) {
  switch (verdict) {
    case Verdict::Verified:
    case Verdict::IdentityShown:
    case Verdict::BackupSaved:
      return 0;
    case Verdict::Mismatch:
      // The classic run ends a mismatch with status 0 and tells it in words only.
      return strict ? 2 : 0;
    case Verdict::Interrupted:
      return InterruptedStatus();
    default:
      return 1;
  }
}

}  // namespace kelvane
