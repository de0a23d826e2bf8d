#include "sim/sim_options.h"

#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/flash_model.h"
#include "monitor/number_text.h"

namespace kelvane::sim {

namespace {

constexpr std::string_view USAGE = R"(Usage: drive-sim [options]

A simulated servo drive: it answers identify, block write and block read
requests on a pseudo-terminal, like the monitor of a real drive on a serial
line. The first line printed is the path of the pseudo-terminal for the
loader to open (or the --device path), once the drive serves it (and the
--link exists). It serves until SIGTERM or SIGINT
(Ctrl-C), then prints a summary on standard error.

Line and files:
  --family NAME          nym (default), tl3xx, tk720, 27, tk720-digest
  --link PATH            also make PATH a symlink to the pseudo-terminal
                         (replaced if it exists, removed on exit)
  --device PATH          serve an existing serial device instead of a
                         pseudo-terminal (a null-modem cable to a second port)
  --raw-line             set the pseudo-terminal raw at start; without it, it
                         is left as a new terminal comes (echo, CR to LF,
                         XON/XOFF), for the loader to set. For the Windows
                         build under Wine, which leaves a terminal's settings
                         as it finds them
  --baud N               line rate for --device and --pace (default 38400);
                         refused without either
  --pace                 hold each reply back until the request and reply would
                         have crossed a line of --baud (10 bits per byte);
                         below 14400 baud it warns, as the loader may then
                         give up waiting
  --flash-in FILE        load the flash from FILE at start
  --flash-out FILE       save the flash to FILE on exit (SIGTERM, SIGINT, and
                         after --hangup-after); refused at start when FILE
                         cannot be written
  --log FILE             one line per request: what it asked and the status
                         sent, or "silent", e.g. "WRITE 0x00004300 256 status 0"
                         ("-": standard output, after the path)
  --capture FILE         every byte received from the loader, raw
  --help                 this text
  --version              drive-sim's version, the project's

The flash file holds the raw flash contents from address 0, as many bytes as
the family's flash (a shorter --flash-in leaves the rest erased, 0xFF).

Flash layouts (addresses are the request's, sizes in bytes):
  nym           0x40800 flash, 256-byte sectors, address and length most
                significant byte first; the sector written at A is stored at
                and read back from A + 0x2000; write 260, read 6 bytes payload
  tl3xx         0x10200 flash, 128-byte sectors, least significant byte first,
                read back from the write address; write 132, read 6
  27            0x20000 flash, 256-byte sectors, least significant byte first;
                its checksum sector sits at 0x1DF00; write 260, read 6
  tk720         0x200000 flash, 256-byte blocks from 0x4000 (the monitor below
                refuses writes), least significant byte first, read requests
                carry a 32-bit length; write 260, read 8
  tk720-digest  0x200000 flash, 256-byte blocks from 0x8000, least significant
                byte first, reads as tk720. The image at 0x8000 is digest (16),
                time stamp (4), length field (4, most significant byte first),
                data; when the MD5 of the length-field bytes from 0x8000 + 20
                equals the stored digest, the identify reply is 152 bytes with
                that digest at bytes 112..127, otherwise the bare 112-byte
                personality.
A read of length 0 reads one whole block; reads longer than 256 are refused.
Status bytes: 0 ok, 0x21 address outside the flash or below the writable
area, 0x22 write not on a block boundary, 0x23 payload of the wrong length,
0x24 read longer than 256, 0x25 unknown command. A refused write stores nothing.

Identity (defaults are realistic for each family's layout):
  --identity-hex HEX     the identify reply payload, verbatim (overrides all)
  --serial N  --model XYZ  --hardware XYZ  --monitor-revision N  --build N
  --current X            amperes; nym, tl3xx, tk720: two hex bytes HH.LL
  --bus-resolution X  --current-resolution X  --mac HEX12
  --manufacturing-code N  --vin TEXT  --personality-checksum N
Numbers are decimal, or hex after 0x.

Faults (N counts from 1 and may repeat):
  --silent-first K       ignore the first K requests
  --silent               never answer
  --write-status N:S     answer the N-th write with status S (nothing stored)
  --read-status N:S      answer the N-th read with status S
  --identify-status N:S  answer the N-th identify with status S
  --bad-payload-checksum N  corrupt the payload checksum of the reply to
                         request N (a reply without payload has none)
  --bad-header N         send a frame with a bad header checksum before the
                         reply to request N
  --noise N:COUNT        COUNT noise bytes (never 0xAA) before the reply to N
  --late N               send the reply to request N only after 300 ms
  --stale-reply N        send an empty write reply before the reply to N, as
                         a loader stopped before it read its last reply
                         leaves one on the line
  --short-read N:LEN     answer the N-th read with only LEN payload bytes
  --stuck ADDR:VALUE     the flash byte at ADDR (a flash address, as read)
                         always reads VALUE: a cell that will not program
  --hangup-after N       deal with N requests, then hang up the line and exit
                         (once the last reply has been read)
The -status and --short-read faults count requests of their own kind; the
others count every request, identify included. A request counts when its
frame passed both checksums, whether it is answered or not; a frame that
fails a checksum is dropped unanswered, logged and not counted. A partial
frame is forgotten after 500 ms without a byte.

Options take their value as the next argument or after "=" (--baud=9600).

Exit status: 0 after SIGTERM, SIGINT or --hangup-after; 1 when the line
fails; 2 for a bad command line.
)";

// Options that take no value.
bool IsFlag(std::string_view name) {
  return name == "pace" || name == "silent" || name == "raw-line";
}

bool IsKnownOption(std::string_view name) {
  constexpr std::string_view LINE_OPTIONS[] = {"family", "link",     "device",      "baud",
                                               "pace",   "raw-line", "flash-in",    "flash-out",
                                               "log",    "capture",  "identity-hex"};
  for (std::string_view known : LINE_OPTIONS) {
    if (name == known) return true;
  }
  return IsIdentityOption(name) || FaultPlan::IsFaultOption(name);
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0 || digits.size() / 2 > 0xFFFF) return std::nullopt;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

void PrintSimUsage(std::FILE* out) {
  std::fwrite(USAGE.data(), 1, USAGE.size(), out);
  std::fflush(out);
}

namespace {

// Identity options wait, as name and text, until the family is known.
using IdentityTexts = std::vector<std::pair<std::string, std::string>>;

// Reads the option at `arguments[i]` into `name` (without "--") and `value`
// (after "=", or the next argument, which `i` then moves to; none for a
// flag). False with `error` set when it is no option this program takes.
bool ReadOption(std::span<const char* const> arguments, std::size_t& i, std::string& name,
                std::optional<std::string>& value, std::string& error) {
  const std::string_view argument = arguments[i];
  if (!argument.starts_with("--")) {
    error = "unexpected argument '" + std::string(argument) + "' (options begin with --)";
    return false;
  }
  name = argument.substr(2);
  if (const std::size_t equals = name.find('='); equals != std::string::npos) {
    value = name.substr(equals + 1);
    name.resize(equals);
  }
  const std::string option = "--" + name;
  if (!IsKnownOption(name)) {
    error = "unknown option " + option + " (see --help)";
    return false;
  }
  if (IsFlag(name)) {
    if (value) error = option + " takes no value";
    return !value;
  }
  if (!value) {
    if (i + 1 >= arguments.size()) {
      error = option + " needs a value";
      return false;
    }
    value = arguments[++i];
  }
  return true;
}

// Sets what option `name` with `value` ("" for a flag) says; false with
// `error` set when the value does not fit it.
bool ApplyOption(const std::string& name, const std::string& value, SimOptions& options,
                 IdentityTexts& identityTexts, std::string& error) {
  const auto bad = [&](const char* what) {
    error = "--" + name + ": '" + value + "' is not " + what;
    return false;
  };
  if (name == "family") {
    const auto family = ParseFamilyName(value);
    if (!family) return bad("a family (nym, tl3xx, tk720, 27, tk720-digest)");
    options.family = *family;
  } else if (name == "link" || name == "device" || name == "flash-in" || name == "flash-out" ||
             name == "log" || name == "capture") {
    if (value.empty()) return bad("a path");
    (name == "link"        ? options.linkPath
     : name == "device"    ? options.devicePath
     : name == "flash-in"  ? options.flashIn
     : name == "flash-out" ? options.flashOut
     : name == "log"       ? options.logPath
                           : options.capturePath) = value;
  } else if (name == "baud") {
    // Any rate the loader takes: pacing only divides by it.
    const auto baud = ParseUnsigned(value, 0xFFFFFFFF);
    if (!baud || *baud == 0) return bad("a baud rate (a positive whole number)");
    options.baud = static_cast<std::uint32_t>(*baud);
    options.baudGiven = true;
  } else if (name == "pace") {
    options.pace = true;
  } else if (name == "raw-line") {
    options.rawLine = true;
  } else if (name == "identity-hex") {
    auto bytes = ParseHexBytes(value);
    if (!bytes) return bad("an even number of hex digits (at most 65535 bytes)");
    options.identity.verbatim = std::move(*bytes);
  } else if (IsIdentityOption(name)) {
    identityTexts.emplace_back(name, value);
  } else if (auto message = options.faults.Add(name, value)) {
    error = *message;
    return false;
  }
  return true;
}

// What only the whole command line decides: the rate's use, the identity of
// the family, the stuck cells inside its flash.
bool CheckWholeLine(SimOptions& options, const IdentityTexts& identityTexts, std::string& error) {
  if (options.baudGiven && !options.pace && !options.devicePath) {
    // A pseudo-terminal carries bytes at no rate at all: the rate alone
    // would silently do nothing.
    error = "--baud needs --pace (or --device): a pseudo-terminal has no line rate";
    return false;
  }
  options.identity.fields = DefaultIdentityFields(options.family);
  for (const auto& [name, value] : identityTexts) {
    if (auto message = ApplyIdentityOption(options.identity.fields, options.family, name, value)) {
      error = *message;
      return false;
    }
  }
  const std::uint32_t flashSize = LayoutOf(options.family).flashSize;
  for (const FaultPlan::StuckCell& cell : options.faults.stuckCells()) {
    if (cell.address >= flashSize) {
      char text[96];
      std::snprintf(text, sizeof text, "--stuck: address 0x%X lies outside the 0x%X-byte flash",
                    static_cast<unsigned>(cell.address), static_cast<unsigned>(flashSize));
      error = text;
      return false;
    }
  }
  return true;
}

}  // namespace

SimParse ParseSimOptions(std::span<const char* const> arguments, SimOptions& options,
                         std::string& error) {
  // Identity fields are set once the family, which decides their defaults
  // and some encodings, is known: --family may come last.
  IdentityTexts identityTexts;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "--help" || argument == "-h") return SimParse::Help;
    if (argument == "--version") return SimParse::Version;
    std::string name;
    std::optional<std::string> value;
    if (!ReadOption(arguments, i, name, value, error) ||
        !ApplyOption(name, value.value_or(""), options, identityTexts, error))
      return SimParse::Error;
  }
  return CheckWholeLine(options, identityTexts, error) ? SimParse::Run : SimParse::Error;
}

}  // namespace kelvane::sim
