#pragma once

// A directory of the test's own, so that tests run in parallel and
// repeatedly without meeting each other's files.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::testing {

using Bytes = std::vector<std::uint8_t>;

// The whole file, or nothing when it cannot be read.
Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
// Replaces `path` with `bytes`; false when it cannot be written.
bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes);
bool WriteFile(const std::string& path, std::string_view text);

// Made unique under $TMPDIR (or /tmp) and removed with everything in it at
// the end, unless KELVANE_TEST_KEEP is set (to look at a failure). The path
// is empty when no directory could be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` in the directory; the file need not exist.
  std::string File(std::string_view name) const;
  // Writes the file `name` and returns its path.
  std::string Write(std::string_view name, std::span<const std::uint8_t> bytes) const;
  std::string Write(std::string_view name, std::string_view text) const;

 private:
  std::string path_;
};

}  // namespace kelvane::testing
