#pragma once

#include <cstddef>
#include <string_view>

namespace kelvane {

// `text` into the caller's `buffer` of `size` bytes, cut to fit with its
// closing NUL; nothing when there is no buffer.
void CopyOut(std::string_view text, char* buffer, std::size_t size);

}  // namespace kelvane
