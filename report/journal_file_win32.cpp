#include <windows.h>

#include <ctime>

#include "link/system_error.h"
#include "report/journal.h"

namespace kelvane {

JournalFile::~JournalFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool JournalFile::Open(const std::string& path, std::string& reason) {
  // FILE_APPEND_DATA alone makes every write land at the end of the file in
  // one step, as O_APPEND does: runs sharing the journal never interleave.
  const HANDLE file =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = SystemErrorText(static_cast<int>(GetLastError()));
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool JournalFile::Write(std::string_view line) {
  DWORD written = 0;
  return WriteFile(reinterpret_cast<HANDLE>(handle_), line.data(), static_cast<DWORD>(line.size()),
                   &written, nullptr) != 0 &&
         written == line.size();
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size) == 0) return "";
  return name;
}

std::tm UtcCalendar(std::time_t time) {
  std::tm utc{};
  gmtime_s(&utc, &time);
  return utc;
}

}  // namespace kelvane
