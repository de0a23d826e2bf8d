# Packages, made by `make package` (scripts/make-packages), one build each:
#
#   -DKELVANE_DEBIAN=ON    kelvane_<version>-1_amd64.deb, installs to /usr, its
#   -DCMAKE_INSTALL_PREFIX=/usr  dependencies computed from the programs' libraries
#   -DKELVANE_STATIC=ON    kelvane-<version>-linux-x86_64-static.tar.gz, programs
#                          linked statically, so they run on any Linux
#   mingw-w64 toolchain    kelvane-<version>-win64.zip: kelvane.exe and
#                          kelvane-station.exe (static, stripped), the README
#                          and the examples
set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware loader for Ostrel servo drives")
set(CPACK_PACKAGE_DESCRIPTION
  "Kelvane writes a firmware image into the flash of an Ostrel servo drive over a\n"
  "serial line and verifies it. drive-sim plays a drive on a pseudo-terminal.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT ${KELVANE_PACKAGE_CONTACT})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-win64)
elseif(KELVANE_STATIC)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}-static)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${KELVANE_DEB_RELEASE})
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
