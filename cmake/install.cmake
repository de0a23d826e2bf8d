# What `cmake --install` puts under the prefix. The installed programs read
# nothing from the source or build tree: the examples are copies.
#
#   Linux:   bin/kelvane, bin/kelvane-station, bin/drive-sim,
#            share/man/man1/{kelvane,kelvane-station,drive-sim}.1,
#            share/doc/kelvane/README.md and share/doc/kelvane/examples/
#   Windows: kelvane.exe, kelvane-station.exe, README.md and examples/ side
#            by side, as a zip is unpacked
include(GNUInstallDirs)

set(KELVANE_EXAMPLES
  examples/nym_sample.s
  examples/tl3xx_sample.s
  examples/series27_sample.s
  examples/tk720_sample.bin
  examples/tk720_digest_sample.bin)

if(WIN32)
  install(TARGETS kelvane kelvane-station RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(FILES ${KELVANE_EXAMPLES} DESTINATION examples)
elseif(NOT KELVANE_FUZZ)
  install(TARGETS kelvane kelvane-station drive-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/kelvane.1 man/kelvane-station.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/man/drive-sim.1)
    install(FILES man/drive-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${KELVANE_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
