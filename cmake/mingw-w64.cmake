# Cross build of kelvane.exe for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVANE_MINGW_TRIPLE x86_64-w64-mingw32)

# The posix thread variant carries the full C++ thread support library; the
# plain names are the fallback on installs that only ship one variant.
find_program(KELVANE_MINGW_CXX NAMES ${KELVANE_MINGW_TRIPLE}-g++-posix ${KELVANE_MINGW_TRIPLE}-g++
  REQUIRED)
find_program(KELVANE_MINGW_CC NAMES ${KELVANE_MINGW_TRIPLE}-gcc-posix ${KELVANE_MINGW_TRIPLE}-gcc
  REQUIRED)
find_program(KELVANE_MINGW_RC NAMES ${KELVANE_MINGW_TRIPLE}-windres)

set(CMAKE_CXX_COMPILER ${KELVANE_MINGW_CXX})
set(CMAKE_C_COMPILER ${KELVANE_MINGW_CC})
if(KELVANE_MINGW_RC)
  set(CMAKE_RC_COMPILER ${KELVANE_MINGW_RC})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${KELVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Cross-built programs run under Wine when CMake or a test wants to run one.
find_program(KELVANE_WINE NAMES wine)
if(KELVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVANE_WINE})
endif()
