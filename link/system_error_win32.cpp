#include <windows.h>

#include <string>

#include "link/system_error.h"

namespace kelvane {

std::string SystemErrorText(int error) {
  char text[512] = "";
  // MAX_WIDTH_MASK joins a message's lines into one; it ends in a blank then.
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() &&
         (reason.back() == ' ' || reason.back() == '\r' || reason.back() == '\n')) {
    reason.pop_back();
  }
  return reason.empty() ? "system error " + std::to_string(error) : reason;
}

}  // namespace kelvane
