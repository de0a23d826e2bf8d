#include "link/port_list.h"

#include <algorithm>

namespace kelvane {

std::string ListingLine(const SerialPortEntry& port) {
  // The options line up in a column wide enough for most of them.
  std::string line = "  " + port.argument;
  line.resize(std::max<std::size_t>(line.size(), 18), ' ');
  line += " " + port.device;
  if (!port.maker.empty()) line += "  (" + port.maker + ")";
  return line;
}

}  // namespace kelvane
