#pragma once

#include <cstdio>
#include <span>

#include "driver/command_line.h"
#include "link/serial_port.h"

namespace kelvane {

inline constexpr int LINK_ATTEMPTS = 1000;

// Sends the identify request until the drive answers, counting down on one
// console line. Returns 0 with `identity` viewing the reply, or 1 after the
// failure message. When an attempt failed first, the replies still on their
// way to it are let pass before this returns.
int EstablishLink(SerialPort& port, std::span<const std::uint8_t>& identity, std::FILE* out);

// One whole run: banner, options, port, link, identity, the family's
// procedure. Every message of the run goes to `out`; `err` only
// gets the one extra line that says why a port did not open or why a record
// line was too long. Returns the exit status.
int RunKelvane(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err);

}  // namespace kelvane
