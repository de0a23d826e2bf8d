#include <cstring>
#include <string>

#include "link/system_error.h"

namespace kelvane {

namespace {

// The GNU strerror_r returns its text, the POSIX one fills `buffer`.
[[maybe_unused]] const char* MessageFrom(int /*result*/, const char* buffer) {
  return buffer;
}
[[maybe_unused]] const char* MessageFrom(const char* text, const char* /*buffer*/) {
  return text;
}

}  // namespace

std::string SystemErrorText(int error) {
  char buffer[256] = "";
  const std::string text = MessageFrom(strerror_r(error, buffer, sizeof buffer), buffer);
  return text.empty() ? "system error " + std::to_string(error) : text;
}

}  // namespace kelvane
