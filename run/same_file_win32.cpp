#include <windows.h>

#include "run/same_file.h"

namespace kelvane {

namespace {

// The volume's serial number and the file's index on it name one file,
// whatever path, short name or letter case led there.
bool IdentityOf(const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
  // Opened for no access at all: a file another program holds open, or one
  // only readable, is still told apart.
  const HANDLE file =
      CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  if (!IdentityOf(a, first) || !IdentityOf(b, second)) return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace kelvane
