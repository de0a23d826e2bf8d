#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvane {

// Writes `bytes` into the file `fileName` so that the name only ever shows a
// complete file: they go under a temporary name in the same folder, which is
// then renamed over `fileName`. Ctrl-C is held off from the first byte
// written to the rename. NotSaved leaves neither the file touched nor the
// temporary file behind.
enum class FileSave { Saved, NotSaved };
FileSave SaveWholeFile(const char* fileName, std::span<const std::uint8_t> bytes);

// Creates the temporary file of `fileName` and removes it again: whether the
// folder takes the file, found out before anything slow is done for it.
bool CanSaveFile(const char* fileName);

// The temporary name of `fileName`, in the same folder.
std::string TemporaryName(const char* fileName);

// Platform parts: rename `from` over an existing `to`, and keep Ctrl-C (and,
// on POSIX, a hang-up or termination) pending while an object lives.
bool RenameOver(const char* from, const char* to);
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  unsigned char saved_[128];
};

}  // namespace kelvane
