# Packages, made by `make package` (scripts/make-packages), one build each:
#
#   -DKELVANE_DEBIAN=ON -DCMAKE_INSTALL_PREFIX=/usr
#        four .deb files, one per install component, installing to /usr, their
#        dependencies on the system's libraries computed (dpkg-shlibdeps),
#        built with the hardening flags of dpkg-buildflags (make-packages):
#          kelvane_<version>-1_amd64.deb          the programs
#          libkelvane1_<version>-1_amd64.deb      the shared library
#          libkelvane-dev_<version>-1_amd64.deb   header, pkg-config file, kelvane(3)
#          python3-kelvane_<version>-1_all.deb    the Python module
#   -DKELVANE_STATIC=ON
#        kelvane-<version>-linux-x86_64-static.tar.gz, programs linked
#        statically, so they run on any Linux
#   mingw-w64 toolchain
#        kelvane-<version>-win64.zip: kelvane.exe and kelvane-station.exe
#        (static, stripped), kelvane.dll with its import library and kelvane.h,
#        the Python module, the README and the examples
set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(KELVANE_PACKAGE_SUMMARY "firmware loader for Ostrel servo drives")
set(CPACK_PACKAGE_DESCRIPTION
  "Kelvane writes a firmware image into the flash of an Ostrel servo drive over a\n"
  "serial line and verifies it. drive-sim plays a drive on a pseudo-terminal.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT ${KELVANE_PACKAGE_CONTACT})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${KELVANE_PACKAGE_SUMMARY})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-win64)
elseif(KELVANE_STATIC)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${KELVANE_PACKAGE_SUMMARY})
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}-static)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${KELVANE_DEB_RELEASE})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The library's shlibs file tells dpkg-shlibdeps of programs linking it
  # which package to depend on; with it comes the ldconfig trigger.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # Debian's names: the programs after the project, the library after its
  # soname, its development files and the Python module as their kinds are named.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME kelvane)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION electronics)
  # Each package's summary is the first line of its description.
  set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "${KELVANE_PACKAGE_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
  set(KELVANE_LIBRARY_PACKAGE libkelvane1)
  string(CONCAT KELVANE_LIBRARY_TEXT "libkelvane loads, verifies, clears, backs up and identifies an Ostrel\n"
    "servo drive over a serial line exactly as kelvane does, for test stations\n"
    "written in C, Python, LabVIEW or C#: one run per drive and port, several\n"
    "at once on several threads, what happens passed to the caller as events.\n")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${KELVANE_LIBRARY_PACKAGE})
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  # Debian runs ldconfig by trigger; the postinst and postrm that CPack adds
  # call it as well, redundant but harmless (see the lintian overrides).
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/triggers)
  # Its symbols file: each exported function there since this version, so a
  # program built against it depends on at least this one.
  if(TARGET kelvane_shared AND KELVANE_DEBIAN)
    set(KELVANE_SYMBOLS_FILE ${CMAKE_BINARY_DIR}/debian/symbols)
    add_custom_command(TARGET kelvane_shared POST_BUILD VERBATIM COMMAND sh -c
      "{ echo 'libkelvane.so.1 ${KELVANE_LIBRARY_PACKAGE} #MINVER#'; echo '* Build-Depends-Package: libkelvane-dev'; nm -D --defined-only \"$1\" | awk '{print \" \" $3 \"@Base ${PROJECT_VERSION}\"}'; } >\"$2\""
      sh $<TARGET_FILE:kelvane_shared> ${KELVANE_SYMBOLS_FILE})
    list(APPEND CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${KELVANE_SYMBOLS_FILE})
  endif()
  string(CONCAT CPACK_DEBIAN_LIBRARY_DESCRIPTION "${KELVANE_PACKAGE_SUMMARY} - shared library\n"
    "${KELVANE_LIBRARY_TEXT}This package holds the shared library.")
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkelvane-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${KELVANE_LIBRARY_PACKAGE} (= ${PROJECT_VERSION}-${KELVANE_DEB_RELEASE})")
  string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION "${KELVANE_PACKAGE_SUMMARY} - development files\n"
    "${KELVANE_LIBRARY_TEXT}This package holds the header kelvane.h, the pkg-config file\n"
    "and the manual page kelvane(3).")
  # Pure Python over ctypes: one package for every architecture.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-kelvane)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, ${KELVANE_LIBRARY_PACKAGE} (>= ${PROJECT_VERSION})")
  string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION "${KELVANE_PACKAGE_SUMMARY} - Python 3 module\n"
    "${KELVANE_LIBRARY_TEXT}This package holds the Python module kelvane, which calls the\n"
    "library through ctypes.")
endif()

include(CPack)
