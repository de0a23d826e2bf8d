#pragma once

#include <string>

#include "flash/run_report.h"

namespace kelvane {

// A failure in the console's words, which every receiver quotes: the
// console prints them, a journal's error.text, a station's table and
// summary and the C library's error text take them as one line.

// The line as the console prints it, without its line ends ("FLASH update
// failed on sector 3 : error code 34", "Interrupted before sector 9 was
// written").
std::string FailureText(const Failure& failure);

// What the console's error stream adds to it, without its line end: why a
// port did not open ("Cannot open /dev/ttyUSB9: no such port"), why a file
// was refused; empty when nothing.
std::string FailureDetailText(const Failure& failure);

// The console's line as it goes out, its line ends included: most end in
// CR LF, the link's gives an empty line after it, the digest drive's tool
// ended its lines with LF alone, and an interruption stands apart from the
// progress line it cuts.
std::string FailureLine(const Failure& failure);

}  // namespace kelvane
