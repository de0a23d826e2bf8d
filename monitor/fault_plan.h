#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::sim {

enum class RequestKind { Identify, Write, Read, Other };

// Which requests the drive misbehaves on, and how. Request numbers count
// from 1. --write-status, --read-status, --identify-status and --short-read
// count requests of their own kind; the others count every request received.
// A request counts once its frame passed both checksums, answered or not.
class FaultPlan {
 public:
  struct StatusFault {
    std::uint64_t number;
    std::uint8_t status;
  };
  struct CountFault {
    std::uint64_t number;
    std::uint64_t count;
  };
  struct StuckCell {
    std::uint32_t address;
    std::uint8_t value;
  };

  // What happens to one request.
  struct Effects {
    bool silent = false;
    std::optional<std::uint8_t> status;  // replaces the real outcome, nothing stored
    bool badPayloadChecksum = false;
    bool badHeaderFirst = false;
    std::size_t noiseFirst = 0;
    bool late = false;
    // An empty write reply first, as a loader stopped mid-run leaves one.
    bool staleReplyFirst = false;
    std::optional<std::uint32_t> shortRead;
  };

  // True for the fault options of the command line (names without "--").
  static bool IsFaultOption(std::string_view name);

  // Adds one fault from its option; an error message naming the option when
  // the value does not parse.
  std::optional<std::string> Add(std::string_view name, std::string_view value);

  // `number` counts every request, `kindNumber` those of `kind`.
  Effects For(std::uint64_t number, RequestKind kind, std::uint64_t kindNumber) const;

  const std::vector<StuckCell>& stuckCells() const { return stuck_; }
  std::optional<std::uint64_t> hangupAfter() const { return hangupAfter_; }

 private:
  std::uint64_t silentFirst_ = 0;
  bool silent_ = false;
  std::optional<std::uint64_t> hangupAfter_;
  std::vector<StatusFault> writeStatus_, readStatus_, identifyStatus_;
  std::vector<std::uint64_t> badPayloadChecksum_, badHeader_, late_, staleReply_;
  std::vector<CountFault> noise_, shortRead_;
  std::vector<StuckCell> stuck_;
};

}  // namespace kelvane::sim
