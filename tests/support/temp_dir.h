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

Bytes ReadFile(const std::string& path);  // empty when it cannot be read

// Made under $TMPDIR (or /tmp), removed with all it holds unless
// KELVANE_TEST_KEEP is set (to look at a failure); path() empty: not made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Each writes the file `name` and returns its path.
  std::string Write(std::string_view name, std::span<const std::uint8_t> bytes) const;
  std::string Write(std::string_view name, std::string_view text) const;

 private:
  std::string path_;
};

}  // namespace kelvane::testing
