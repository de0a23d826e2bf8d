#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "monitor/family_layout.h"
#include "monitor/fault_plan.h"
#include "monitor/identity.h"

namespace kelvane::sim {

struct SimOptions {
  SimFamily family = SimFamily::Nym;
  std::optional<std::string> linkPath;
  std::optional<std::string> devicePath;
  std::uint32_t baud = 38400;
  bool baudGiven = false;
  bool pace = false;
  bool rawLine = false;
  std::optional<std::string> flashIn;
  std::optional<std::string> flashOut;
  std::optional<std::string> logPath;
  std::optional<std::string> capturePath;
  IdentityConfig identity;
  FaultPlan faults;
};

enum class SimParse { Run, Help, Version, Error };

// Reads the command line (entry 0, the program's name, is skipped). On
// SimParse::Error `error` names the option at fault.
SimParse ParseSimOptions(std::span<const char* const> arguments, SimOptions& options,
                         std::string& error);

void PrintSimUsage(std::FILE* out);

}  // namespace kelvane::sim
