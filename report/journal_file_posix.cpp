#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "link/system_error.h"
#include "report/journal.h"

namespace kelvane {

JournalFile::~JournalFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool JournalFile::Open(const std::string& path, std::string& reason) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    reason = SystemErrorText(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

bool JournalFile::Write(std::string_view line) {
  // O_APPEND moves to the end and writes in one step: lines of runs sharing
  // the journal follow one another whole.
  ssize_t written = -1;
  do {
    written = write(static_cast<int>(handle_), line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(line.size());
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::tm UtcCalendar(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  return utc;
}

}  // namespace kelvane
