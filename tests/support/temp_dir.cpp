#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace kelvane::testing {

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string name = std::string(base != nullptr && *base != '\0' ? base : "/tmp");
  name += "/kelvane-test-XXXXXX";
  if (mkdtemp(name.data()) != nullptr) path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (std::getenv("KELVANE_TEST_KEEP") != nullptr) std::fprintf(stderr, "kept %s\n", path_.c_str());
  if (std::getenv("KELVANE_TEST_KEEP") == nullptr) std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(std::string_view name, std::span<const std::uint8_t> bytes) const {
  return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string TempDir::Write(std::string_view name, std::string_view text) const {
  std::ofstream(File(name), std::ios::binary).write(text.data(), std::streamsize(text.size()));
  return File(name);
}

}  // namespace kelvane::testing
