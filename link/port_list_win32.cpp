#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "link/port_list.h"

namespace kelvane {

namespace {

// COM1 to COM9 by number; from COM10 on Windows opens a port only by its
// device name, which /c takes as a path.
std::string PortArgument(const std::string& com) {
  const int number = std::atoi(com.c_str() + 3);
  if (number >= 1 && number <= 9) return "/c" + std::to_string(number);
  return "/c\\\\.\\" + com;
}

int PortNumber(const SerialPortEntry& entry) {
  const std::size_t at = entry.argument.find("COM");
  return at == std::string::npos ? entry.argument[2] - '0'
                                 : std::atoi(entry.argument.c_str() + at + 3);
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts() {
  std::vector<SerialPortEntry> ports;
  // Every serial port driver enters the ports it serves here, USB adapters
  // included, as the device's name and the COM name given to it.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    BYTE data[256];
    DWORD nameLength = sizeof name;
    DWORD dataLength = sizeof data - 1;
    DWORD type = 0;
    const LONG result =
        RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLength] = 0;
    const std::string com(reinterpret_cast<const char*>(data));
    if (com.rfind("COM", 0) != 0) continue;
    ports.push_back({PortArgument(com), com + " " + std::string(name, nameLength), ""});
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(),
            [](const auto& a, const auto& b) { return PortNumber(a) < PortNumber(b); });
  return ports;
}

}  // namespace kelvane
