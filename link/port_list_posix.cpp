#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "link/port_list.h"

namespace kelvane {

namespace fs = std::filesystem;

namespace {

// The machine's own tree, or, for tests only, a fake one: KELVANE_SYSFS_ROOT
// names a directory that stands for "/" when looking up sys/ and dev/, so
// that listing can be checked without the hardware it describes.
fs::path SystemRoot() {
  const char* root = std::getenv("KELVANE_SYSFS_ROOT");
  return root != nullptr && *root != '\0' ? fs::path(root) : fs::path("/");
}

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

// The kernel makes a ttyS device for every slot of the legacy driver; only
// those with a UART found behind them (type not 0, "unknown") are ports.
bool IsSerialTty(const fs::path& tty, std::string_view name) {
  std::error_code error;
  if (!fs::exists(tty / "device", error)) return false;
  if (name.starts_with("ttyUSB") || name.starts_with("ttyACM")) return true;
  if (!name.starts_with("ttyS")) return false;
  const std::string type = FirstLine(tty / "type");
  return !type.empty() && type != "0";
}

// The USB device's maker and product, found up the parent chain of the tty's
// device (the interface has neither; the device above it has both).
std::string UsbMaker(const fs::path& tty, const fs::path& sysTop) {
  std::error_code error;
  fs::path at = fs::canonical(tty / "device", error);
  if (error) return "";
  const fs::path top = fs::canonical(sysTop, error);
  for (; !error && at != top && at.has_relative_path(); at = at.parent_path()) {
    const std::string product = FirstLine(at / "product");
    if (!product.empty()) {
      const std::string maker = FirstLine(at / "manufacturer");
      return maker.empty() ? product : maker + " " + product;
    }
  }
  return "";
}

// /c1 to /c9 open ttyS0 to ttyS8, as COM1 to COM9; other ports by path.
std::string PortArgument(std::string_view name, const std::string& devicePath) {
  if (name.size() == 5 && name.starts_with("ttyS") && name[4] >= '0' && name[4] <= '8') {
    return std::string("/c") + static_cast<char>(name[4] + 1);
  }
  return "/c" + devicePath;
}

// ttyS2 before ttyS10: by the name's letters, then by its number.
bool ByNameAndNumber(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& name) {
    const std::size_t digits = name.find_first_of("0123456789");
    const std::string stem = name.substr(0, digits);
    return std::make_pair(stem, digits == std::string::npos ? 0 : std::atoi(name.c_str() + digits));
  };
  return split(a) < split(b);
}

// The path as the user would type it: outside the fake root in tests.
std::string Shown(const fs::path& path, const fs::path& root) {
  const std::string text = path.lexically_normal().string();
  if (root == "/") return text;
  const fs::path relative = path.lexically_normal().lexically_relative(root);
  if (relative.empty() || relative.native().starts_with("..")) return text;
  // Appended rather than "/" + ...: g++ 12 -O3 sees a false overlap in that insert.
  return std::string("/").append(relative.native());
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts() {
  const fs::path root = SystemRoot();
  const fs::path sys = root / "sys/class/tty";
  std::error_code error;

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(sys, error)) {
    const std::string name = entry.path().filename().string();
    if (IsSerialTty(entry.path(), name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), ByNameAndNumber);

  // The by-id links keep their names whichever ttyUSB number the adapter got
  // today, so scripts on a bench with several adapters should use them.
  std::vector<SerialPortEntry> byId;
  const fs::path byIdDir = root / "dev/serial/by-id";
  for (const auto& entry : fs::directory_iterator(byIdDir, error)) {
    std::error_code linkError;
    fs::path target = fs::read_symlink(entry.path(), linkError);
    if (linkError) continue;
    if (target.is_relative()) target = byIdDir / target;
    const std::string name = target.filename().string();
    byId.push_back({"/c" + Shown(entry.path(), root), "-> " + Shown(target, root),
                    UsbMaker(sys / name, root / "sys")});
  }
  std::sort(byId.begin(), byId.end(),
            [](const auto& a, const auto& b) { return a.argument < b.argument; });

  std::vector<SerialPortEntry> ports = byId;
  for (const std::string& name : names) {
    const std::string device = "/dev/" + name;
    ports.push_back({PortArgument(name, device), device, UsbMaker(sys / name, root / "sys")});
  }
  return ports;
}

}  // namespace kelvane
