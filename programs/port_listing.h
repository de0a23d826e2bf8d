#pragma once

#include <cstdio>

namespace kelvane {

// The serial ports of the machine, one a line with the /c option that names
// each, or a line saying there is none. Opens no port.
void PrintSerialPorts(std::FILE* out);

}  // namespace kelvane
