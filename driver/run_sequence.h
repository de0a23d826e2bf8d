#pragma once

#include <cstdio>
#include <span>

#include "driver/command_line.h"
#include "link/serial_port.h"

namespace kelvane {

// Sends the identify request until the drive answers with an identity of at
// least `shortestIdentity` bytes, at most `attempts` times, counting down on
// one console line. Returns 0 with `identity` viewing the reply, or 1 after
// the failure message. When an attempt failed first, the replies still on
// their way to it are let pass before this returns.
int EstablishLink(SerialPort& port, int attempts, std::size_t shortestIdentity,
                  std::span<const std::uint8_t>& identity, std::FILE* out);

// One whole run: banner, options, port, link, identity, the family's
// procedure; or, as the options ask, the port list or a dry run. Everything
// the run says goes to `out`; `err` gets the link trace and the one extra
// line that says why a port did not open or why a record line was too long. Returns the exit
// status: 0, 1 after a failure, 2 for a flash that does not match the file
// when the strict status was asked for.
int RunKelvane(std::span<const char* const> arguments, PathRule rule, std::FILE* out,
               std::FILE* err);

}  // namespace kelvane
