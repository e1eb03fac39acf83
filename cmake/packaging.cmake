# Install layout and packages: a .deb on Linux, a .zip with the standalone
# .exe on Windows.
include(GNUInstallDirs)

if(WIN32)
  # The zip holds the standalone .exe beside its README and licence.
  install(TARGETS quenthar RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  # Man pages are installed compressed; -n keeps the archive free of a timestamp.
  set(man_gz ${CMAKE_BINARY_DIR}/quenthar.1.gz)
  add_custom_command(OUTPUT ${man_gz}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/quenthar.1 > ${man_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/quenthar.1 VERBATIM)
  add_custom_target(man_page ALL DEPENDS ${man_gz})
  install(TARGETS quenthar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME quenthar)
set(CPACK_PACKAGE_VENDOR "The quenthar developers")
set(CPACK_PACKAGE_CONTACT "The quenthar developers <quenthar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report the boot application event log of a boot manager")
set(CPACK_PACKAGE_DESCRIPTION "quenthar reads the event log that a Windows boot manager keeps about
the boot applications it starts, checks it, and prints a plain-text report
of the log header and of every entry. It runs on a live Windows machine or
on Linux against a log copied off a disk image.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quenthar-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quenthar.example.org")
  # A static program needs nothing at run time; a dynamic one gets its
  # libraries from dpkg-shlibdeps.
  if(NOT QUENTHAR_STATIC_PROGRAM)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)
