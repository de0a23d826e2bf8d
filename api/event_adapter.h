#pragma once

#include <string>

#include "api/kelvane.h"
#include "flash/run_report.h"
#include "report/journal.h"

namespace kelvane {

kelvane_verdict VerdictOf(Verdict verdict);
kelvane_stage StageOf(Stage stage);

// A run's events handed to a C caller as kelvane_event values, each with one
// line of text, to the caller's function with the caller's pointer. Placed
// after `recorder` among a run's reports, it reads what the recorder made of
// a stop.
class EventAdapter : public RunReport {
 public:
  EventAdapter(kelvane_event_fn function, void* user, const JournalRecorder& recorder)
      : function_(function), user_(user), recorder_(recorder) {}

  void PortOpened(std::string_view port, int baud) override;
  void LinkAttemptFailed(int remaining) override;
  void LinkEstablished(const DriveIdentity& identity) override;
  void PassStarted(Pass pass, int total, const PassWords& words) override;
  void BlockDone(Pass pass, int block, int total, const PassWords& words) override;
  void BlockMismatch(int block, int errors, const PassWords& words) override;
  void PassFinished(Pass pass) override;
  void Failed(const Failure& failure) override;
  void DeviceLost(std::string_view device) override;
  void Interrupted(std::optional<Pass> pass, int block, const PassWords& words) override;
  // The run's end, told last.
  void Ended(Verdict verdict);

 private:
  kelvane_event Event(kelvane_event_kind kind) const;
  void Send(kelvane_event& event, const std::string& text) const;

  kelvane_event_fn function_;
  void* user_;
  const JournalRecorder& recorder_;
};

}  // namespace kelvane
