#include "programs/port_listing.h"

#include "link/port_list.h"

namespace kelvane {

void PrintSerialPorts(std::FILE* out) {
  const std::vector<SerialPortEntry> ports = ListSerialPorts();
  if (ports.empty()) {
    std::fputs("No serial ports found\r\n", out);
    return;
  }
  std::fputs("Serial ports:\r\n", out);
  for (const SerialPortEntry& port : ports) std::fprintf(out, "%s\r\n", ListingLine(port).c_str());
  std::fflush(out);
}

}  // namespace kelvane
