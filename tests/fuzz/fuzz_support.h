#pragma once

#include <stdio.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace kelvane::fuzz {

// The input as a stream, closed when it goes (an empty one as /dev/null,
// which fmemopen cannot give).
struct File {
  FILE* file;
  explicit File(FILE* opened) : file(opened) {}
  ~File() { fclose(file); }
  FILE* get() const { return file; }
};
inline FILE* Input(const std::uint8_t* data, std::size_t size) {
  return size == 0 ? fopen("/dev/null", "rb")
                   : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

// The binary image builders take a file name: one file per fuzzing process.
struct DiskFile {
  std::string name = "/dev/shm/kelvane-fuzz-" + std::to_string(getpid()) + ".bin";
  DiskFile(const std::uint8_t* data, std::size_t size) {
    FILE* file = fopen(name.c_str(), "wb");
    if (size != 0) fwrite(data, 1, size, file);
    fclose(file);
  }
  ~DiskFile() { remove(name.c_str()); }
};

}  // namespace kelvane::fuzz
