#include "api/caller_buffer.h"
#include "api/kelvane.h"
#include "link/port_list.h"

using namespace kelvane;

extern "C" int kelvane_list_ports(char* buffer, size_t size) {
  try {
    const std::vector<SerialPortEntry> ports = ListSerialPorts();
    std::string lines;
    for (const SerialPortEntry& port : ports) lines += ListingLine(port) + "\n";
    CopyOut(lines, buffer, size);
    return static_cast<int>(ports.size());
  } catch (...) {
    CopyOut("", buffer, size);
    return -1;
  }
}
