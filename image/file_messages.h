#pragma once

#include <string>
#include <vector>

namespace kelvane {

// How reading a firmware file ended: its image taken, or the file refused
// after its messages said why (nothing is sent to a drive then).
enum class FileRead { Taken, Refused };

// What reading a firmware file has to say, kept as values so that a run can
// show it on the console, record the refusal in a journal, and a station can
// repeat it in every drive's transcript after reading the file once.
enum class FileMessageKind {
  Note,         // a console line about the image (its size, its digest)
  Warning,      // a console line about something odd that does not stop the load
  Refusal,      // the console line that ends the run: the file is not loaded
  Explanation,  // the error stream's line saying why a refusal happened
  Notice,       // an error stream line about something odd that does not stop the load:
                // the console keeps exactly the drive tools' lines for every file that loads
};

// Explanations and notices go to the error stream, the rest to the console.
bool OnErrorStream(FileMessageKind kind);

struct FileMessage {
  FileMessageKind kind;
  std::string text;  // as printed, line ends included
};

class FileMessages {
 public:
// MinGW's printf family here is the C99 one (%zu), which GCC checks as gnu_printf.
#if defined(__MINGW32__)
#define KELVANE_PRINTF_LIKE __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
#define KELVANE_PRINTF_LIKE __attribute__((format(printf, 2, 3)))
#else
#define KELVANE_PRINTF_LIKE
#endif
  void Note(const char* format, ...) KELVANE_PRINTF_LIKE;
  void Warn(const char* format, ...) KELVANE_PRINTF_LIKE;
  void Refuse(const char* format, ...) KELVANE_PRINTF_LIKE;
  void Explain(const char* format, ...) KELVANE_PRINTF_LIKE;
  void Notice(const char* format, ...) KELVANE_PRINTF_LIKE;
#undef KELVANE_PRINTF_LIKE

  const std::vector<FileMessage>& all() const {
    return messages_;
  }
  // The console's part (notes, warnings and the refusal) and the error
  // stream's part (explanations and notices), each in the order they were said.
  std::string ConsoleText() const;
  std::string ErrorText() const;

 private:
  std::vector<FileMessage> messages_;
};

}  // namespace kelvane
