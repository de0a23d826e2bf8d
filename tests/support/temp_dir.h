#pragma once

// A directory of the test's own, so that tests run in parallel and
// repeatedly; and whole files in and out of it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::testing {

using Bytes = std::vector<std::uint8_t>;

// The whole file; empty when it cannot be read.
Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
// False when the file cannot be written.
bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes);

// Made under $TMPDIR (or /tmp) and removed with all it holds, unless
// KELVANE_TEST_KEEP is set (to look at a failure). Its path is empty when it
// could not be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes the file `name` and returns its path.
  std::string Write(std::string_view name, std::span<const std::uint8_t> bytes) const;
  std::string Write(std::string_view name, std::string_view text) const;

 private:
  std::string path_;
};

}  // namespace kelvane::testing
