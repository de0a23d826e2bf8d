#include "api/event_adapter.h"

#include <cstdio>
#include <vector>

#include "report/failure_text.h"
#include "report/verdict_words.h"

namespace kelvane {

namespace {

kelvane_pass PassOf(Pass pass) {
  switch (pass) {
    case Pass::Write:
      return KELVANE_PASS_WRITE;
    case Pass::Verify:
      return KELVANE_PASS_VERIFY;
    case Pass::Digest:
      return KELVANE_PASS_DIGEST;
    case Pass::Read:
      break;
  }
  return KELVANE_PASS_READ;
}

template <typename... Values>
std::string Text(const char* format, Values... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

// The library's own words for its events: one plain line each, not the
// console's layout (its progress lines and its drive tools' spellings stay
// the console's); a failure alone is told as the console tells it.
const char* PassName(Pass pass) {
  return pass == Pass::Write    ? "Write"
         : pass == Pass::Read   ? "Read"
         : pass == Pass::Digest ? "Digest"
                                : "Verify";
}

std::string Title(const char* unit) {
  std::string title = unit;
  if (!title.empty() && title[0] >= 'a' && title[0] <= 'z')
    title[0] = static_cast<char>(title[0] - 'a' + 'A');
  return title;
}

const char* DoneWord(Pass pass) {
  return pass == Pass::Write ? "written" : pass == Pass::Read ? "read" : "verified";
}

}  // namespace

kelvane_verdict VerdictOf(Verdict verdict) {
  switch (verdict) {
    case Verdict::Verified:
    case Verdict::IdentityShown:
    case Verdict::BackupSaved:
      return KELVANE_VERIFIED;
    case Verdict::Mismatch:
      return KELVANE_MISMATCH;
    case Verdict::Failed:
      return KELVANE_FAILED;
    case Verdict::NoLink:
      return KELVANE_NO_LINK;
    case Verdict::PortFailed:
      return KELVANE_PORT_FAILED;
    case Verdict::FileRefused:
      return KELVANE_FILE_REFUSED;
    case Verdict::WrongDrive:
      return KELVANE_WRONG_DRIVE;
    case Verdict::Interrupted:
      break;
  }
  return KELVANE_INTERRUPTED;
}

kelvane_stage StageOf(Stage stage) {
  switch (stage) {
    case Stage::Write:
      return KELVANE_STAGE_WRITE;
    case Stage::Read:
      return KELVANE_STAGE_READ;
    case Stage::ChecksumSector:
      return KELVANE_STAGE_CHECKSUM_SECTOR;
    case Stage::Digest:
      return KELVANE_STAGE_DIGEST;
    case Stage::Link:
      return KELVANE_STAGE_LINK;
    case Stage::Port:
      return KELVANE_STAGE_PORT;
    case Stage::Identity:
      return KELVANE_STAGE_IDENTITY;
    case Stage::File:
      break;
  }
  return KELVANE_STAGE_FILE;
}

kelvane_event EventAdapter::Event(kelvane_event_kind kind) const {
  kelvane_event event{};
  event.size = sizeof event;
  event.kind = kind;
  event.block = -1;
  event.code = -1;
  return event;
}

void EventAdapter::Send(kelvane_event& event, const std::string& text) const {
  if (function_ == nullptr) return;
  event.text = text.c_str();
  function_(&event, user_);
}

void EventAdapter::PortOpened(std::string_view port, int baud) {
  kelvane_event event = Event(KELVANE_EVENT_PORT_OPENED);
  const std::string name(port);
  event.port = name.c_str();
  event.baud = baud;
  Send(event, "Port " + name + Text(" opened at %d baud", baud));
}

void EventAdapter::LinkAttemptFailed(int remaining) {
  kelvane_event event = Event(KELVANE_EVENT_LINK_ATTEMPT_FAILED);
  event.remaining = remaining;
  Send(event, Text("No answer from the drive, %d attempt(s) left", remaining - 1));
}

void EventAdapter::LinkEstablished(const DriveIdentity& identity) {
  kelvane_event event = Event(KELVANE_EVENT_IDENTITY);
  std::vector<kelvane_field> fields;
  // The line names the drive as a station's operator reads it off the
  // label; every field is in `fields`.
  std::string text = "The drive answered:";
  const char* separator = " ";
  for (const IdentityLine& line : identity.lines) {
    if (line.key.empty()) continue;
    fields.push_back({line.key.c_str(), line.value.c_str()});
    for (const char* shown : {"model_code", "hardware_revision", "serial_number"}) {
      if (line.key != shown) continue;
      text += separator + line.key + " " + line.value;
      separator = ", ";
    }
  }
  event.fields = fields.data();
  event.field_count = fields.size();
  Send(event, text);
}

void EventAdapter::PassStarted(Pass pass, int total, const PassWords& words) {
  kelvane_event event = Event(KELVANE_EVENT_PASS_STARTED);
  event.pass = PassOf(pass);
  event.total = total;
  Send(event, Text("%s pass: %d %s(s)", PassName(pass), total, words.unit));
}

void EventAdapter::BlockDone(Pass pass, int block, int total, const PassWords& words) {
  kelvane_event event = Event(KELVANE_EVENT_BLOCK_DONE);
  event.pass = PassOf(pass);
  event.block = block;
  event.total = total;
  Send(event, Text("%s %d of %d %s", Title(words.unit).c_str(), block + 1, total, DoneWord(pass)));
}

void EventAdapter::BlockMismatch(int block, int errors, const PassWords& words) {
  kelvane_event event = Event(KELVANE_EVENT_BLOCK_MISMATCH);
  event.pass = KELVANE_PASS_VERIFY;
  event.block = block;
  event.errors = errors;
  Send(event, Text("%s %d: %d byte(s) differ from the file", Title(words.unit).c_str(), block + 1,
                   errors));
}

void EventAdapter::PassFinished(Pass pass) {
  kelvane_event event = Event(KELVANE_EVENT_PASS_FINISHED);
  event.pass = PassOf(pass);
  Send(event, Text("%s pass finished", PassName(pass)));
}

void EventAdapter::Failed(const Failure& failure) {
  kelvane_event event = Event(KELVANE_EVENT_FAILURE);
  event.stage = StageOf(failure.stage);
  event.block = failure.block.value_or(-1);
  event.code = failure.link ? failure.link->code() : -1;
  Send(event, FailureText(failure));
}

void EventAdapter::DeviceLost(std::string_view device) {
  kelvane_event event = Event(KELVANE_EVENT_DEVICE_GONE);
  Send(event, "The device " + std::string(device) + " is gone");
}

void EventAdapter::Interrupted(std::optional<Pass> /*pass*/, int /*block*/,
                               const PassWords& /*words*/) {
  // A stop is the run's failure as the journal records it: where it stopped.
  if (recorder_.error) Failed(*recorder_.error);
}

void EventAdapter::Ended(Verdict verdict) {
  kelvane_event event = Event(KELVANE_EVENT_VERDICT);
  event.verdict = VerdictOf(verdict);
  Send(event, Text("The run ended: %s", JournalVerdict(verdict)));
}

}  // namespace kelvane
