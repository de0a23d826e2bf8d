# The C library for test stations: libkelvane.so.1 (kelvane.dll with its
# import library libkelvane.dll.a on Windows) over the same core the programs
# link statically. Only the kelvane_* functions of api/kelvane.h are its face.
include(GNUInstallDirs)

# The core goes into the shared library whole, so it is built for any address.
set_target_properties(kelvane_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

file(GLOB KELVANE_API_SOURCES CONFIGURE_DEPENDS api/*.cpp)
add_library(kelvane_shared SHARED ${KELVANE_API_SOURCES})
set_target_properties(kelvane_shared PROPERTIES
  OUTPUT_NAME kelvane
  VERSION 1.0.0
  SOVERSION 1
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_compile_definitions(kelvane_shared PRIVATE KELVANE_BUILDING_LIBRARY
  KELVANE_VERSION="${PROJECT_VERSION}")
target_include_directories(kelvane_shared PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/api>)
target_link_libraries(kelvane_shared PRIVATE
  -Wl,--whole-archive kelvane_core -Wl,--no-whole-archive)
if(WIN32)
  # kelvane.dll stands alone: the C++ runtime and the threads are inside it.
  set_target_properties(kelvane_shared PROPERTIES PREFIX "" IMPORT_PREFIX "lib"
    IMPORT_SUFFIX ".dll.a")
  target_link_options(kelvane_shared PRIVATE -static -static-libgcc -static-libstdc++)
else()
  # Everything but kelvane_* stays inside: the core's C++ names are no
  # promise to anyone.
  set(KELVANE_SYMBOL_MAP ${CMAKE_CURRENT_SOURCE_DIR}/cmake/libkelvane.map)
  target_link_options(kelvane_shared PRIVATE -Wl,--version-script=${KELVANE_SYMBOL_MAP}
    -Wl,--no-undefined)
  set_target_properties(kelvane_shared PROPERTIES LINK_DEPENDS ${KELVANE_SYMBOL_MAP})
endif()
find_package(Threads REQUIRED)
target_link_libraries(kelvane_shared PRIVATE Threads::Threads)

# pkg-config's description of the installed library (kelvane.pc).
configure_file(cmake/kelvane.pc.in ${CMAKE_BINARY_DIR}/kelvane.pc @ONLY)
