#include "monitor/fault_plan.h"

#include <algorithm>
#include <array>

#include "monitor/number_text.h"

namespace kelvane::sim {

namespace {

constexpr std::uint64_t MAX_NUMBER = 0xFFFFFFFF;
// Noise beyond a few thousand bytes only tests patience.
constexpr std::uint64_t MAX_NOISE = 65536;

constexpr std::array<std::string_view, 13> FAULT_OPTIONS = {
    "silent-first",         "silent",     "write-status", "read-status", "identify-status",
    "bad-payload-checksum", "bad-header", "noise",        "late",        "stale-reply",
    "short-read",           "stuck",      "hangup-after"};

bool Contains(const std::vector<std::uint64_t>& list, std::uint64_t number) {
  return std::find(list.begin(), list.end(), number) != list.end();
}

}  // namespace

bool FaultPlan::IsFaultOption(std::string_view name) {
  return std::find(FAULT_OPTIONS.begin(), FAULT_OPTIONS.end(), name) != FAULT_OPTIONS.end();
}

std::optional<std::string> FaultPlan::Add(std::string_view name, std::string_view value) {
  const std::string option = "--" + std::string(name);
  const auto bad = [&](const char* what) {
    return option + ": '" + std::string(value) + "' is not " + what;
  };
  if (name == "silent") {
    silent_ = true;
    return std::nullopt;
  }
  if (name == "silent-first") {
    const auto count = ParseUnsigned(value, MAX_NUMBER);
    if (!count) return bad("a request count");
    silentFirst_ = std::max(silentFirst_, *count);
    return std::nullopt;
  }
  if (name == "hangup-after") {
    const auto count = ParseUnsigned(value, MAX_NUMBER);
    if (!count) return bad("a request count");
    hangupAfter_ = hangupAfter_ ? std::min(*hangupAfter_, *count) : *count;
    return std::nullopt;
  }
  if (name == "write-status" || name == "read-status" || name == "identify-status") {
    const auto pair = ParsePair(value, MAX_NUMBER, 0xFF);
    if (!pair || pair->first == 0) return bad("N:S (request number from 1, status byte)");
    auto& list = name == "write-status"  ? writeStatus_
                 : name == "read-status" ? readStatus_
                                         : identifyStatus_;
    list.push_back({pair->first, static_cast<std::uint8_t>(pair->second)});
    return std::nullopt;
  }
  if (name == "bad-payload-checksum" || name == "bad-header" || name == "late" ||
      name == "stale-reply") {
    const auto number = ParseUnsigned(value, MAX_NUMBER);
    if (!number || *number == 0) return bad("a request number from 1");
    auto& list = name == "bad-payload-checksum" ? badPayloadChecksum_
                 : name == "bad-header"         ? badHeader_
                 : name == "late"               ? late_
                                                : staleReply_;
    list.push_back(*number);
    return std::nullopt;
  }
  if (name == "noise" || name == "short-read") {
    const std::uint64_t countMax = name == "noise" ? MAX_NOISE : 0xFFFF;
    const auto pair = ParsePair(value, MAX_NUMBER, countMax);
    if (!pair || pair->first == 0) {
      return bad(name == "noise" ? "N:COUNT (request number from 1, up to 65536 bytes)"
                                 : "N:LEN (read number from 1, payload length)");
    }
    (name == "noise" ? noise_ : shortRead_).push_back({pair->first, pair->second});
    return std::nullopt;
  }
  if (name == "stuck") {
    const auto pair = ParsePair(value, MAX_NUMBER, 0xFF);
    if (!pair) return bad("ADDR:VALUE (flash address, byte)");
    stuck_.push_back(
        {static_cast<std::uint32_t>(pair->first), static_cast<std::uint8_t>(pair->second)});
    return std::nullopt;
  }
  return option + ": not a fault";
}

FaultPlan::Effects FaultPlan::For(std::uint64_t number, RequestKind kind,
                                  std::uint64_t kindNumber) const {
  Effects effects;
  effects.silent = silent_ || number <= silentFirst_;
  const auto statusFor = [&](const std::vector<StatusFault>& list) {
    for (const StatusFault& fault : list) {
      if (fault.number == kindNumber) effects.status = fault.status;
    }
  };
  if (kind == RequestKind::Write) statusFor(writeStatus_);
  if (kind == RequestKind::Read) statusFor(readStatus_);
  if (kind == RequestKind::Identify) statusFor(identifyStatus_);
  if (kind == RequestKind::Read) {
    for (const CountFault& fault : shortRead_) {
      if (fault.number == kindNumber) effects.shortRead = static_cast<std::uint32_t>(fault.count);
    }
  }
  effects.badPayloadChecksum = Contains(badPayloadChecksum_, number);
  effects.badHeaderFirst = Contains(badHeader_, number);
  effects.late = Contains(late_, number);
  effects.staleReplyFirst = Contains(staleReply_, number);
  for (const CountFault& fault : noise_) {
    if (fault.number == number) effects.noiseFirst += fault.count;
  }
  return effects;
}

}  // namespace kelvane::sim
