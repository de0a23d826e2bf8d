#include "run/run_plan.h"

namespace kelvane {

namespace {

const char* OperationOf(const RunOptions& options, bool clears) {
  if (options.identifyOnly) return "identify";
  // A backup and load is journalled as two operations: the backup on a
  // line of its own, then the load as named here.
  if (options.backupFileName && !options.fileName) return "backup";
  if (options.verifyOnly) return "verify";
  if (clears) return options.clearMode == ClearMode::EntireFlash ? "clear" : "clear-parameters";
  return "load";
}

}  // namespace

bool LoadsAFile(const RunOptions& options) {
  return !options.identifyOnly && (options.fileName || !options.backupFileName);
}

RunPlan PlanRun(const RunOptions& options, const DriveFamily& family, const PreparedImage& image) {
  RunPlan plan;
  plan.loads = LoadsAFile(options);
  plan.clears = family.family == DeviceFamily::Nym && options.clearMode != ClearMode::None;
  plan.operation = OperationOf(options, plan.clears);
  plan.strict = options.strictStatus;
  if (plan.loads && !image.refused) {
    plan.blocks = image.total - image.first;
    plan.bytes =
        plan.clears ? *plan.blocks * static_cast<int>(family.blocks->blockSize) : image.length;
  }
  return plan;
}

}  // namespace kelvane
