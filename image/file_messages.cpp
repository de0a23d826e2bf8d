#include "image/file_messages.h"

#include <cstdarg>
#include <cstdio>

namespace kelvane {

namespace {

// One line as vsnprintf formats it, however long (a file name can be).
std::string Format(const char* format, std::va_list arguments) {
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

}  // namespace

bool OnErrorStream(FileMessageKind kind) {
  return kind == FileMessageKind::Explanation || kind == FileMessageKind::Notice;
}

#define KELVANE_SAY(kind)                                 \
  std::va_list arguments;                                 \
  va_start(arguments, format);                            \
  messages_.push_back({kind, Format(format, arguments)}); \
  va_end(arguments)

void FileMessages::Note(const char* format, ...) {
  KELVANE_SAY(FileMessageKind::Note);
}
void FileMessages::Warn(const char* format, ...) {
  KELVANE_SAY(FileMessageKind::Warning);
}
void FileMessages::Refuse(const char* format, ...) {
  KELVANE_SAY(FileMessageKind::Refusal);
}
void FileMessages::Explain(const char* format, ...) {
  KELVANE_SAY(FileMessageKind::Explanation);
}
void FileMessages::Notice(const char* format, ...) {
  KELVANE_SAY(FileMessageKind::Notice);
}
#undef KELVANE_SAY

std::string FileMessages::ConsoleText() const {
  std::string text;
  for (const FileMessage& message : messages_)
    if (!OnErrorStream(message.kind)) text += message.text;
  return text;
}

std::string FileMessages::ErrorText() const {
  std::string text;
  for (const FileMessage& message : messages_)
    if (OnErrorStream(message.kind)) text += message.text;
  return text;
}

}  // namespace kelvane
