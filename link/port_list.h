#pragma once

#include <string>
#include <vector>

namespace kelvane {

// One serial port the machine offers, as the loader's /c option names it.
struct SerialPortEntry {
  std::string argument;  // /c3, /c\\.\COM12, /c/dev/ttyUSB0, /c/dev/serial/by-id/...
  std::string device;    // what it is: the device it points to, or the system's own name
  std::string maker;     // the USB adapter's maker and product, where the system knows them
};

// The serial ports present, without opening any, in the order a user reads
// them: stable by-id names first, then the ports by name and number. One
// platform file implements it (port_list_posix.cpp or port_list_win32.cpp).
std::vector<SerialPortEntry> ListSerialPorts();

// The port's line in a listing, without its line end: the /c option that
// names it, then what it is and, where known, who made the adapter.
std::string ListingLine(const SerialPortEntry& port);

}  // namespace kelvane
