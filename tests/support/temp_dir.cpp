#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kelvane::testing {

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  std::uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  std::fclose(f);
  return bytes;
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string name = std::string(base != nullptr && *base != '\0' ? base : "/tmp");
  name += "/kelvane-test-XXXXXX";
  if (mkdtemp(name.data()) != nullptr) path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (std::getenv("KELVANE_TEST_KEEP") != nullptr) {
    std::fprintf(stderr, "kept %s\n", path_.c_str());
  } else if (!path_.empty()) {
    std::filesystem::remove_all(path_, ignored);
  }
}

std::string TempDir::Write(std::string_view name, std::span<const std::uint8_t> bytes) const {
  WriteFile(File(name), bytes);
  return File(name);
}

std::string TempDir::Write(std::string_view name, std::string_view text) const {
  return Write(name, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace kelvane::testing
