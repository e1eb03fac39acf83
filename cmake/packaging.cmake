# Install layout and packages: a .deb and a plain .tar.gz on Linux, a .zip
# with the standalone .exe on Windows, and SHA256SUMS beside them. Two builds
# of one commit give the same bytes: package times come from the commit,
# entries are sorted, owners and modes are fixed.
include(GNUInstallDirs)
# Python writes the archives, where it is; building the program alone needs
# none. The system's own interpreter, where there is one, so that the tests
# (which find it too) use the modules of the system's packages.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 QUIET COMPONENTS Interpreter)

set(quenthar_readme_documents doc/building.md doc/containment.md doc/libraries.md)
if(WIN32)
  # The zip holds the standalone .exe beside its README and licence.
  install(TARGETS quenthar RUNTIME DESTINATION .)
  install(FILES README.md LICENSE doc/records.schema.json packaging/windows/LIBRARIES.txt
          DESTINATION .)
  # The documents the README points to, where it points.
  install(FILES ${quenthar_readme_documents} DESTINATION doc)
  # The licences of the libraries in the program, as the build machine has
  # them: the compiler's runtime, and the image libraries where they are.
  foreach(copyright gcc-mingw-w64-base/copyright:gcc-copyright.txt
                    mingw-w64-common/copyright:mingw-w64-copyright.txt)
    string(REPLACE ":" ";" parts ${copyright})
    list(GET parts 0 from)
    list(GET parts 1 to)
    if(EXISTS /usr/share/doc/${from})
      install(FILES /usr/share/doc/${from} DESTINATION licenses RENAME ${to})
    endif()
  endforeach()
  if(quenthar_images)
    install(DIRECTORY ${deps_prefix}/licenses/ DESTINATION licenses)
  endif()
  set(package_system windows)
  set(package_deb OFF)
  set(package_archive zip)
  set(package_archive_components Unspecified)
else()
  # Compressed as Debian installs them; -n keeps out a name and a time stamp.
  function(quenthar_gzip source output)
    add_custom_command(OUTPUT ${output} COMMAND gzip -9n -c ${source} > ${output}
                       DEPENDS ${source} VERBATIM)
  endfunction()
  set(man_gz ${CMAKE_BINARY_DIR}/quenthar.1.gz)
  set(changelog_gz ${CMAKE_BINARY_DIR}/changelog.gz)
  quenthar_gzip(${PROJECT_SOURCE_DIR}/doc/quenthar.1 ${man_gz})
  quenthar_gzip(${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${changelog_gz})
  add_custom_target(compressed_docs ALL DEPENDS ${man_gz} ${changelog_gz})

  file(STRINGS packaging/debian/changelog changelog_top LIMIT_COUNT 1)
  if(NOT changelog_top MATCHES "^quenthar \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog must start with version ${PROJECT_VERSION}")
  endif()

  install(TARGETS quenthar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET quenthar-image)
    # Where quenthar looks for it, beside its own folder.
    install(TARGETS quenthar-image RUNTIME DESTINATION lib/quenthar)
  endif()
  install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md ${changelog_gz} doc/records.schema.json
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${quenthar_readme_documents} DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc)
  # The licence as it stands everywhere but in the .deb, which carries it in
  # Debian's form, with the reason for its one lintian override.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT license)
  install(FILES packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)
  # The overrides follow what is built: the image program's only where it is.
  set(image_overrides "")
  if(quenthar_images)
    string(CONCAT image_overrides
      "# The disk-image program is linked statically for the same reason, with the\n"
      "# libraries the copyright file names, each with its licence and source.\n"
      "quenthar: statically-linked-binary [usr/lib/quenthar/quenthar-image]\n"
      "quenthar: embedded-library expat [usr/lib/quenthar/quenthar-image]\n"
      "quenthar: embedded-library zlib [usr/lib/quenthar/quenthar-image]\n")
  endif()
  configure_file(packaging/debian/lintian-overrides.in ${CMAKE_BINARY_DIR}/lintian-overrides @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/lintian-overrides RENAME quenthar
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT debian EXCLUDE_FROM_ALL)
  set(package_system linux)
  set(package_deb ON)
  set(package_archive tar.gz)
  set(package_archive_components Unspecified license)
endif()

# `cmake --build --preset NAME --target packages` makes every package of the
# build in build/NAME/packages: cpack makes the .deb (it sorts its entries and
# owns them by root), packaging/write_archive.py the .tar.gz or .zip, whose
# CPack generators would record the builder's owner and the order in which
# the file system lists the files.
set(package_name quenthar-${PROJECT_VERSION}-${package_system}-${CMAKE_SYSTEM_PROCESSOR})
if(Python3_Interpreter_FOUND)
  configure_file(cmake/make_packages.cmake.in ${CMAKE_BINARY_DIR}/make_packages.cmake @ONLY)
  add_custom_target(packages
    COMMAND ${CMAKE_COMMAND} -D OUT_DIR=${CMAKE_BINARY_DIR}/packages -P ${CMAKE_BINARY_DIR}/make_packages.cmake
    VERBATIM USES_TERMINAL)
  add_dependencies(packages quenthar)
  if(TARGET quenthar-image)
    add_dependencies(packages quenthar-image)
  endif()
  if(TARGET compressed_docs)
    add_dependencies(packages compressed_docs)
  endif()
else()
  message(STATUS "Python 3 not found: no packages target (install and `cmake --install` still work)")
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
if(package_deb)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # One package of the components a Debian package wants: Debian's copyright
  # file and the lintian override instead of the plain licence.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quenthar.example.org")
  # A static program needs nothing at run time; a dynamic one gets its
  # libraries from dpkg-shlibdeps.
  if(NOT QUENTHAR_STATIC_PROGRAM)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  include(CPack)
endif()
