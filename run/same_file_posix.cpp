#include <sys/stat.h>

#include "run/same_file.h"

namespace kelvane {

// A file is its device and inode number, through any link or path.
bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat first {};
  struct stat second {};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace kelvane
