# What `cmake --install` puts under the prefix, in four components that the
# .deb splits into packages of their own (packages.cmake); every other install
# takes all four. The installed programs read nothing from the source or build
# tree: the examples are copies.
#
#   programs  Linux: bin/kelvane, bin/kelvane-station, bin/drive-sim,
#             share/man/man1/{kelvane,kelvane-station,drive-sim}.1,
#             share/doc/kelvane/README.md and share/doc/kelvane/examples/
#             Windows: kelvane.exe, kelvane-station.exe, README.md and
#             examples/ side by side, as a zip is unpacked
#   library   lib/libkelvane.so.1 and its real file; kelvane.dll
#   dev       include/kelvane.h, lib/libkelvane.so, lib/pkgconfig/kelvane.pc,
#             share/man/man3/kelvane.3; kelvane.h and libkelvane.dll.a
#   python    lib/python3/dist-packages/kelvane/ (KELVANE_PYTHON_DIR);
#             kelvane/ beside the .exe files and kelvane.dll
#
# -DKELVANE_DEBIAN=ON (with -DCMAKE_INSTALL_PREFIX=/usr, so that the library
# goes to lib/<multiarch>) installs as Debian's policy wants it: manual pages
# compressed, and a copyright file and changelog in each package's doc folder.
include(GNUInstallDirs)

option(KELVANE_DEBIAN "Install for the Debian packages: compressed manual pages, copyright and changelog" OFF)
set(KELVANE_PYTHON_DIR lib/python3/dist-packages CACHE STRING
  "Where under the prefix the Python module goes (Debian's python3 searches /usr/lib/python3/dist-packages)")
set(KELVANE_PACKAGE_CONTACT "Kelvane developers <kelvane@example.org>"
  CACHE STRING "Maintainer named in the .deb and its changelog")
set(KELVANE_DEB_RELEASE 1)

set(KELVANE_EXAMPLES
  examples/nym_sample.s
  examples/tl3xx_sample.s
  examples/series27_sample.s
  examples/tk720_sample.bin
  examples/tk720_digest_sample.bin)

# A manual page into share/man/manN, compressed for Debian (gzip -9n: no name
# or time stamp inside, so the same page gives the same package).
function(kelvane_install_man page component)
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\." "" section ${name})
  if(KELVANE_DEBIAN)
    set(compressed ${CMAKE_BINARY_DIR}/man/${name}.gz)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
    execute_process(COMMAND gzip -9n -c INPUT_FILE ${CMAKE_CURRENT_SOURCE_DIR}/${page}
      OUTPUT_FILE ${compressed} COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${page})
    set(page ${compressed})
  endif()
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

# Debian wants /usr/share/doc/PACKAGE/copyright and changelog.Debian.gz in
# every package; lintian's overrides sit beside them.
if(KELVANE_DEBIAN)
  string(TIMESTAMP KELVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
  execute_process(COMMAND gzip -9n -f ${CMAKE_BINARY_DIR}/debian/changelog.Debian
    COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS cmake/debian/changelog.in)
endif()
function(kelvane_install_debian_docs component package)
  if(KELVANE_DEBIAN)
    list(JOIN ARGN "\n" KELVANE_EXTRA_OVERRIDES)
    install(FILES cmake/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    configure_file(cmake/debian/lintian-overrides.in ${CMAKE_BINARY_DIR}/debian/${package} @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/debian/${package}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
  endif()
endfunction()

if(WIN32)
  install(TARGETS kelvane kelvane-station RUNTIME DESTINATION . COMPONENT programs)
  install(FILES README.md DESTINATION . COMPONENT programs)
  install(FILES ${KELVANE_EXAMPLES} DESTINATION examples COMPONENT programs)
elseif(NOT KELVANE_FUZZ)
  install(TARGETS kelvane kelvane-station drive-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT programs)
  foreach(page kelvane.1 kelvane-station.1 drive-sim.1)
    kelvane_install_man(man/${page} programs)
  endforeach()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
  install(FILES ${KELVANE_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT programs)
  kelvane_install_debian_docs(programs kelvane)
endif()

# The C library for test stations, its header, pkg-config file and manual
# page, and the Python module over it.
if(TARGET kelvane_shared)
  if(WIN32)
    install(TARGETS kelvane_shared RUNTIME DESTINATION . COMPONENT library
      ARCHIVE DESTINATION . COMPONENT dev)
    install(FILES api/kelvane.h DESTINATION . COMPONENT dev)
  else()
    install(TARGETS kelvane_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT library NAMELINK_COMPONENT dev)
    install(FILES api/kelvane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
    # kelvane.pc names the prefix the library is installed under, known only
    # when installing: `cmake --install --prefix` may differ from the
    # configured one.
    install(CODE "
      set(PROJECT_VERSION ${PROJECT_VERSION})
      set(CMAKE_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
      set(CMAKE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
      configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/kelvane.pc.in
        ${CMAKE_BINARY_DIR}/install/kelvane.pc @ONLY)" COMPONENT dev)
    install(FILES ${CMAKE_BINARY_DIR}/install/kelvane.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/man/kelvane.3)
      kelvane_install_man(man/kelvane.3 dev)
    endif()
    # CPack's postinst and postrm call ldconfig besides the package's trigger.
    kelvane_install_debian_docs(library libkelvane1
      "# CPack's maintainer scripts run ldconfig, which the trigger makes redundant, not wrong."
      "libkelvane1: maintscript-calls-ldconfig")
    kelvane_install_debian_docs(dev libkelvane-dev)
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/python/kelvane/__init__.py)
    if(WIN32)
      # Beside the .exe files and kelvane.dll, where the module looks for it.
      set(KELVANE_PYTHON_DIR .)
    endif()
    install(DIRECTORY python/kelvane DESTINATION ${KELVANE_PYTHON_DIR} COMPONENT python
      FILES_MATCHING PATTERN "*.py" PATTERN __pycache__ EXCLUDE)
    kelvane_install_debian_docs(python python3-kelvane)
  endif()
endif()
