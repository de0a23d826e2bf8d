#include <memory>
#include <optional>
#include <string>

#include "api/event_adapter.h"
#include "api/kelvane.h"
#include "api/library_image.h"
#include "api/library_stop.h"
#include "report/failure_text.h"
#include "report/journal.h"
#include "report/verdict_words.h"
#include "report/version.h"
#include "run/drive_guards.h"
#include "run/drive_run.h"

namespace kelvane {

namespace {

// The strings a result points to, kept until the caller frees it or runs
// with it again.
struct ResultText {
  std::string error, device, model, hardware, serial, sha256;
};

// "COM3" names COM port 3 as kelvane's /c3 does; anything else is a path.
void ReadPort(const char* port, RunOptions& options) {
  const std::string name = port;
  if (name.size() > 3 && name.size() <= 6 && name.starts_with("COM") &&
      name.find_first_not_of("0123456789", 3) == std::string::npos && name[3] != '0') {
    options.portNumber = std::stoi(name.substr(3));
  } else {
    options.devicePath = name;
  }
}

// The run's options from the job, as kelvane's command line would set them;
// none when the job is not one kelvane could run (misuse, nothing opened).
std::optional<RunOptions> OptionsOf(const kelvane_job& job, const DriveFamily*& family) {
  family = job.family != nullptr ? FamilyNamed(job.family) : nullptr;
  if (job.family != nullptr && family == nullptr) return std::nullopt;
  if (job.image != nullptr) {
    if (family != nullptr && family != job.image->family) return std::nullopt;
    family = job.image->family;
  }
  if (family == nullptr || job.port == nullptr || job.port[0] == '\0' || job.baud < 0) {
    return std::nullopt;
  }
  RunOptions options;
  options.family = family->family;
  ReadPort(job.port, options);
  options.baudRate = job.baud == 0 ? 38400 : job.baud;
  options.linkAttempts = job.attempts == 0 ? DEFAULT_LINK_ATTEMPTS : job.attempts;
  if (options.linkAttempts < MIN_LINK_ATTEMPTS || options.linkAttempts > MAX_LINK_ATTEMPTS) {
    return std::nullopt;
  }
  options.strictStatus = job.strict != 0;
  const bool nym = family->family == DeviceFamily::Nym;
  switch (job.operation) {
    case KELVANE_VERIFY:
      options.verifyOnly = true;
      [[fallthrough]];
    case KELVANE_LOAD:
      if (job.image == nullptr) return std::nullopt;
      options.fileName = job.image->path;
      break;
    case KELVANE_CLEAR_ALL:
    case KELVANE_CLEAR_PARAMETERS:
      // Only the Nym monitor erases its flash on request.
      if (!nym) return std::nullopt;
      options.clearMode = job.operation == KELVANE_CLEAR_ALL ? ClearMode::EntireFlash
                                                             : ClearMode::ParametersSection;
      break;
    case KELVANE_BACKUP:
      if (job.backup_path == nullptr || job.backup_path[0] == '\0') return std::nullopt;
      options.backupFileName = job.backup_path;
      // With an image, the backup is followed by its load, as /u old new.
      if (job.image != nullptr) options.fileName = job.image->path;
      break;
    case KELVANE_IDENTIFY:
      options.identifyOnly = true;
      break;
    default:
      return std::nullopt;
  }
  if (job.models == nullptr && job.model_count > 0) return std::nullopt;
  for (std::size_t i = 0; i < job.model_count; ++i) {
    const kelvane_model& model = job.models[i];
    if (model.model_code == nullptr) return std::nullopt;
    std::string text = model.model_code;
    if (model.hardware_revision != nullptr) (text += ",") += model.hardware_revision;
    // The same checks as /w's value.
    const std::optional<AllowedDrive> allowed = ReadAllowedDrive(text);
    if (!allowed) return std::nullopt;
    options.allowedDrives.push_back(*allowed);
  }
  if (job.sha256 != nullptr) {
    options.pinnedSha256 = ReadPinnedSha256(job.sha256);
    if (!options.pinnedSha256) return std::nullopt;
  }
  return options;
}

std::string FieldOf(const std::optional<DriveIdentity>& identity, std::string_view key) {
  if (!identity) return "";
  for (const IdentityLine& line : identity->lines) {
    if (line.key == key) return line.value;
  }
  return "";
}

void FillResult(kelvane_result& result, Verdict verdict, const DriveOutcome& drive,
                const JournalRecorder& recorder, const PreparedImage& image) {
  kelvane_result_free(&result);
  auto text = std::make_unique<ResultText>();
  result.verdict = VerdictOf(verdict);
  result.verdict_text = JournalVerdict(verdict);
  result.stage = KELVANE_STAGE_NONE;
  result.block = -1;
  result.code = -1;
  if (recorder.error) {
    const Failure& failure = *recorder.error;
    result.stage = StageOf(failure.stage);
    result.block = failure.block.value_or(-1);
    result.code = failure.link ? failure.link->code() : -1;
    text->error = FailureText(failure);
    // Why a port did not open follows its line, as the journal keeps it.
    if (const std::string detail = FailureDetailText(failure); !detail.empty())
      text->error += ": " + detail;
  }
  text->device = drive.device;
  text->model = FieldOf(recorder.drive, "model_code");
  text->hardware = FieldOf(recorder.drive, "hardware_revision");
  text->serial = FieldOf(recorder.drive, "serial_number");
  if (image.fileSha256) text->sha256 = Sha256Hex(*image.fileSha256);
  result.error = text->error.c_str();
  result.device = text->device.c_str();
  result.model = text->model.c_str();
  result.hardware = text->hardware.c_str();
  result.serial = text->serial.c_str();
  result.file_sha256 = text->sha256.c_str();
  result.internal = text.release();
}

int Run(const kelvane_job& job, kelvane_result* result) {
  const DriveFamily* family = nullptr;
  const std::optional<RunOptions> options = OptionsOf(job, family);
  if (!options) return -1;
  // A clear's erased image is made here; a file's was made once, by
  // kelvane_prepare.
  const PreparedImage cleared =
      options->fileName ? PreparedImage{} : PrepareImageOf(*options, *family);
  const PreparedImage& image = options->fileName ? job.image->prepared : cleared;
  const RunPlan plan = PlanRun(*options, *family, image);
  JournalRecorder recorder;
  EventAdapter events(job.on_event, job.user, recorder);
  ReportFanOut report({&recorder, &events});
  const DriveOutcome drive = RunDrive({.options = *options,
                                       .family = *family,
                                       .image = image,
                                       .report = report,
                                       .stop = job.stop != nullptr ? &job.stop->flag : nullptr});
  events.Ended(drive.verdict);
  if (result != nullptr) FillResult(*result, drive.verdict, drive, recorder, image);
  return ExitStatusOf(drive.verdict, plan.strict);
}

}  // namespace

}  // namespace kelvane

using namespace kelvane;

extern "C" int kelvane_api_version(void) {
  return KELVANE_API_VERSION;
}

extern "C" const char* kelvane_version(void) {
  return VERSION;
}

extern "C" const char* kelvane_verdict_text(kelvane_verdict verdict) {
  // WrongDrive is the last of the run's verdicts.
  for (int each = 0; each <= static_cast<int>(Verdict::WrongDrive); ++each) {
    if (VerdictOf(static_cast<Verdict>(each)) == verdict) {
      return JournalVerdict(static_cast<Verdict>(each));
    }
  }
  return "";
}

extern "C" const char* kelvane_stage_text(kelvane_stage stage) {
  // Identity is the last of the stages.
  for (int each = 0; each <= static_cast<int>(Stage::Identity); ++each) {
    if (StageOf(static_cast<Stage>(each)) == stage) return StageName(static_cast<Stage>(each));
  }
  return "";
}

extern "C" int kelvane_run(const kelvane_job* job, kelvane_result* result) {
  if (job == nullptr || job->size != sizeof(kelvane_job)) return -1;
  if (result != nullptr && result->size != sizeof(kelvane_result)) return -1;
  try {
    return Run(*job, result);
  } catch (...) {
    // Out of memory, most likely: C has no exceptions to carry it.
    return -1;
  }
}

extern "C" void kelvane_result_free(kelvane_result* result) {
  if (result == nullptr) return;
  delete static_cast<ResultText*>(result->internal);
  result->internal = nullptr;
}
