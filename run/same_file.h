#pragma once

#include <string>

namespace kelvane {

// Whether the names `a` and `b` lead to one and the same file: the same
// name, or (both existing) the same file by the system's own identity of it,
// whatever links, folders or letter cases lie between. One platform file
// implements it (same_file_posix.cpp or same_file_win32.cpp).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace kelvane
