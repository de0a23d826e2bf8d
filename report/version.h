#pragma once

namespace kelvane {

// The version the banner and the journal name, set by the build from the
// project's version; 2.03 when a file is compiled outside it.
#ifdef KELVANE_VERSION
inline constexpr const char* VERSION = KELVANE_VERSION;
#else
inline constexpr const char* VERSION = "2.03";
#endif

}  // namespace kelvane
