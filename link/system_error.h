#pragma once

#include <string>

namespace kelvane {

// The system's own words for error `error` (errno, or GetLastError on
// Windows) on one line, without a line end; "system error N" where the
// system has none. Safe from several threads at once: a station's ports and
// its journal may fail together. One platform file implements it.
std::string SystemErrorText(int error);

}  // namespace kelvane
