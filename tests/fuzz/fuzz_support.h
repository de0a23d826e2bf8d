#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kelvane::fuzz {

// The readers take a FILE*; an in-memory stream feeds them the input as is.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size) {
    // An empty buffer cannot be opened as a stream; an empty file can.
    file_ = size == 0 ? std::fopen("/dev/null", "rb")
                      : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  }
  ~MemoryFile() { std::fclose(file_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// The binary image builders take a file name: one file per fuzzing process.
class DiskFile {
 public:
  DiskFile(const std::uint8_t* data, std::size_t size) {
    name_ = "/dev/shm/kelvane-fuzz-" + std::to_string(getpid()) + ".bin";
    std::FILE* file = std::fopen(name_.c_str(), "wb");
    if (size != 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  ~DiskFile() { std::remove(name_.c_str()); }
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;
  const char* name() const { return name_.c_str(); }

 private:
  std::string name_;
};

// What the readers print is not under test here.
class NullOutput {
 public:
  NullOutput() : file_(std::fopen("/dev/null", "w")) {}
  ~NullOutput() { std::fclose(file_); }
  NullOutput(const NullOutput&) = delete;
  NullOutput& operator=(const NullOutput&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

}  // namespace kelvane::fuzz
