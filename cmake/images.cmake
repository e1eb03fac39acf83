# Disk images, read with The Sleuth Kit's library (libtsk) and the image
# libraries it uses: on Linux Debian's, where they are installed (a cross
# build's from a sysroot of the target's packages); on Windows built for it
# by scripts/windows-deps.sh. The static program links their static
# archives: a program that loads them as shared libraries spends ten times a
# whole report's run in the dynamic loader.
set(QUENTHAR_IMAGES AUTO CACHE STRING "Read disk images with libtsk: ON, OFF or AUTO (where it is found)")
# A cross build finds the target's libraries in a sysroot of Debian's packages
# for it (scripts/arm64-sysroot.sh makes the arm64 one).
set(QUENTHAR_IMAGE_SYSROOT "" CACHE PATH "Root of the target's libtsk and the libraries it links, when cross-compiling")
set(QUENTHAR_IMAGE_SYSROOT_SCRIPT "" CACHE FILEPATH "Script that makes QUENTHAR_IMAGE_SYSROOT (given its parent folder), or reuses it")
set(QUENTHAR_IMAGE_DEPS_SCRIPT "" CACHE FILEPATH "Script that builds (or reuses) the Windows build's image libraries and prints their folder")
set(quenthar_images OFF)
set(images_why "")
# Why a script that prepares the libraries failed, in one line: the first
# line it wrote to standard error, or else its exit status.
function(quenthar_why_failed out error status)
  string(REGEX REPLACE "\n.*" "" error "${error}")
  if(error STREQUAL "")
    set(error "exit status ${status}")
  endif()
  set(${out} "${error}" PARENT_SCOPE)
endfunction()
# The sysroot is made (or reused) here, at configure time, since whether the
# build reads images is decided here.
if(CMAKE_CROSSCOMPILING AND QUENTHAR_IMAGE_SYSROOT_SCRIPT AND NOT QUENTHAR_IMAGES STREQUAL "OFF")
  get_filename_component(sysroot_parent ${QUENTHAR_IMAGE_SYSROOT} DIRECTORY)
  execute_process(COMMAND ${QUENTHAR_IMAGE_SYSROOT_SCRIPT} ${sysroot_parent}
                  RESULT_VARIABLE sysroot_made OUTPUT_QUIET ERROR_VARIABLE sysroot_error)
  if(NOT sysroot_made EQUAL 0)
    quenthar_why_failed(sysroot_error "${sysroot_error}" ${sysroot_made})
    set(images_why "the target's sysroot cannot be made (${sysroot_error})")
  endif()
endif()
if(WIN32 AND QUENTHAR_IMAGE_DEPS_SCRIPT AND NOT QUENTHAR_IMAGES STREQUAL "OFF")
  message(STATUS "Disk images: building or reusing the image libraries for Windows "
                 "(the first build is long: 42 minutes on 2 busy cores)")
  execute_process(COMMAND ${QUENTHAR_IMAGE_DEPS_SCRIPT} RESULT_VARIABLE deps_made
                  OUTPUT_VARIABLE deps_prefix ERROR_VARIABLE deps_error
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE ".*\n" "" deps_prefix "${deps_prefix}")
  if(NOT deps_made EQUAL 0)
    quenthar_why_failed(deps_error "${deps_error}" ${deps_made})
    set(images_why "the image libraries cannot be built (${deps_error})")
  else()
    message(STATUS "Disk images: the image libraries are in ${deps_prefix}")
    set(image_libraries "")
    # In link order: libbfio after libbde and libvshadow, which call it.
    foreach(name tsk bde vshadow qcow ewf vmdk vhdi bfio z)
      list(APPEND image_libraries ${deps_prefix}/lib/lib${name}.a)
    endforeach()
    # What the libraries call of Windows.
    list(APPEND image_libraries rpcrt4 ole32 ws2_32 advapi32 bcrypt shlwapi)
    set(TSK_INCLUDE_DIR ${deps_prefix}/include)
    set(EWF_INCLUDE_DIR ${deps_prefix}/include)
    set(BDE_INCLUDE_DIR ${deps_prefix}/include)
    set(quenthar_images ON)
  endif()
endif()
if(quenthar_images OR images_why)
  # Found, or not to be had: said below.
elseif(WIN32 OR QUENTHAR_IMAGES STREQUAL "OFF")
  set(images_why "not for this build")
elseif(CMAKE_CROSSCOMPILING AND NOT EXISTS "${QUENTHAR_IMAGE_SYSROOT}/usr/include/tsk/libtsk.h")
  set(images_why "no sysroot with the target's libtsk in QUENTHAR_IMAGE_SYSROOT")
else()
  if(CMAKE_CROSSCOMPILING)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QUENTHAR_IMAGE_SYSROOT})
  endif()
  find_path(TSK_INCLUDE_DIR tsk/libtsk.h)
  find_path(OPENSSL_EVP_INCLUDE_DIR openssl/evp.h)
  find_path(EWF_INCLUDE_DIR libewf.h)
  find_path(BDE_INCLUDE_DIR libbde.h)
  if(QUENTHAR_STATIC_PROGRAM)
    # libtsk and what it links, in link order; libcurl is left out (see
    # src/image/no_network.cpp).
    set(image_archives tsk bde vshadow qcow ewf vmdk vhdi afflib bfio sqlite3 crypto expat z)
    # The libyal libraries each carry copies of the support libraries they
    # share: each is linked with its copies renamed (scripts/rename-copies.sh),
    # so that every call reaches the copy its library was built with, and one
    # libbfio serves those that carry none.
    set(libyal_archives bde vshadow qcow ewf vmdk vhdi bfio)
    set(image_libraries "")
    set(renamed_archives "")
    foreach(name ${image_archives})
      find_library(QUENTHAR_ARCHIVE_${name} lib${name}.a)
      if(NOT QUENTHAR_ARCHIVE_${name})
        set(images_why "lib${name}.a is not installed")
        break()
      endif()
      if(name IN_LIST libyal_archives)
        set(renamed ${CMAKE_BINARY_DIR}/image-archives/lib${name}.a)
        # Then the copies' tables that are the same in every library are
        # shared (scripts/share-tables.sh: else arm64's offset table overflows).
        add_custom_command(OUTPUT ${renamed}
          COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/image-archives
          COMMAND ${CMAKE_COMMAND} -E env AR=${CMAKE_AR} LD=${CMAKE_LINKER} NM=${CMAKE_NM}
                  OBJCOPY=${CMAKE_OBJCOPY}
                  ${PROJECT_SOURCE_DIR}/scripts/rename-copies.sh lib${name} ${QUENTHAR_ARCHIVE_${name}}
                  ${renamed}.copies
          COMMAND ${CMAKE_COMMAND} -E env AR=${CMAKE_AR} OBJCOPY=${CMAKE_OBJCOPY}
                  OBJDUMP=${CMAKE_OBJDUMP} READELF=${CMAKE_READELF}
                  ${PROJECT_SOURCE_DIR}/scripts/share-tables.sh ${renamed}.copies ${renamed}
          COMMAND ${CMAKE_COMMAND} -E rm ${renamed}.copies
          DEPENDS ${QUENTHAR_ARCHIVE_${name}} ${PROJECT_SOURCE_DIR}/scripts/rename-copies.sh
                  ${PROJECT_SOURCE_DIR}/scripts/share-tables.sh VERBATIM)
        list(APPEND renamed_archives ${renamed})
        list(APPEND image_libraries ${renamed})
      else()
        list(APPEND image_libraries ${QUENTHAR_ARCHIVE_${name}})
      endif()
    endforeach()
  else()
    set(image_libraries "")
    foreach(name tsk bde vshadow qcow ewf vmdk bfio crypto)
      find_library(QUENTHAR_LIBRARY_${name} ${name})
      if(NOT QUENTHAR_LIBRARY_${name})
        set(images_why "lib${name} is not installed")
      endif()
      list(APPEND image_libraries ${QUENTHAR_LIBRARY_${name}})
    endforeach()
  endif()
  if(NOT images_why AND (NOT TSK_INCLUDE_DIR OR NOT OPENSSL_EVP_INCLUDE_DIR OR NOT EWF_INCLUDE_DIR
                          OR NOT BDE_INCLUDE_DIR))
    set(images_why "the headers of libtsk-dev, libewf-dev, libbde-dev or libssl-dev are not installed")
  endif()
  # The workers that run the libraries are sandboxed with a system-call filter.
  find_path(SECCOMP_INCLUDE_DIR seccomp.h)
  if(QUENTHAR_STATIC_PROGRAM)
    find_library(SECCOMP_LIBRARY libseccomp.a)
  else()
    find_library(SECCOMP_LIBRARY seccomp)
  endif()
  if(NOT images_why AND (NOT SECCOMP_INCLUDE_DIR OR NOT SECCOMP_LIBRARY))
    set(images_why "libseccomp-dev is not installed")
  endif()
  if(NOT images_why)
    set(quenthar_images ON)
  endif()
endif()

if(quenthar_images)
  message(STATUS "Disk images: read with libtsk")
  # The image libraries run only in the workers; this side checks what they send.
  # Two halves: the containment (the workers' processes, their sandbox and
  # channel, and the output process's checks of what they send), and the
  # search inside a worker, each image library a layer of its own.
  add_library(quenthar_image STATIC
    src/image/containment/image_search.cpp src/image/containment/messages.cpp
    src/image/containment/message_stream.cpp
    src/image/search/worker_search.cpp src/image/search/image_formats.cpp
    src/image/search/volume_system.cpp src/image/search/file_system.cpp
    src/image/search/tsk_library.cpp src/image/search/tsk_adapter.cpp
    src/image/search/bfio_source.cpp src/image/search/bitlocker.cpp
    src/image/search/shadow_copies.cpp src/image/search/qcow_image.cpp)
  if(WIN32)
    target_sources(quenthar_image PRIVATE src/image/containment/worker_win32.cpp
                   src/image/containment/sha256_bcrypt.cpp src/image/search/device_win32.cpp)
  else()
    target_sources(quenthar_image PRIVATE src/image/search/vmdk_image.cpp
                   src/image/containment/worker_posix.cpp
                   src/image/containment/image_files.cpp src/image/containment/sandbox_linux.cpp
                   src/image/containment/sha256_openssl.cpp)
  endif()
  if(QUENTHAR_SANITIZE)
    target_compile_definitions(quenthar_image PRIVATE QUENTHAR_SANITIZED=1)
  else()
    target_compile_definitions(quenthar_image PRIVATE QUENTHAR_SANITIZED=0)
  endif()
  if(QUENTHAR_STATIC_PROGRAM AND NOT WIN32)
    # libbde's XTS by OpenSSL: objects, linked before the archives, so that
    # the library's own member is never taken (src/image/search/bitlocker_xts.cpp).
    add_library(quenthar_bitlocker_xts OBJECT src/image/search/bitlocker_xts.cpp)
    target_link_libraries(quenthar_bitlocker_xts PRIVATE quenthar_flags)
    target_include_directories(quenthar_bitlocker_xts SYSTEM PRIVATE ${OPENSSL_EVP_INCLUDE_DIR})
    if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS ${OPENSSL_EVP_INCLUDE_DIR}/${CMAKE_LIBRARY_ARCHITECTURE})
      target_include_directories(quenthar_bitlocker_xts SYSTEM PRIVATE
                                 ${OPENSSL_EVP_INCLUDE_DIR}/${CMAKE_LIBRARY_ARCHITECTURE})
    endif()
    target_link_libraries(quenthar_image INTERFACE $<TARGET_OBJECTS:quenthar_bitlocker_xts>)
    # After the archives that call them, so that the linker takes them.
    add_library(quenthar_no_network STATIC src/image/search/no_network.cpp)
    find_package(Threads REQUIRED)
    list(APPEND image_libraries quenthar_no_network Threads::Threads ${CMAKE_DL_LIBS})
  endif()
  target_include_directories(quenthar_image SYSTEM PRIVATE ${TSK_INCLUDE_DIR} ${EWF_INCLUDE_DIR}
                             ${BDE_INCLUDE_DIR})
  if(NOT WIN32)
    target_include_directories(quenthar_image SYSTEM PRIVATE ${OPENSSL_EVP_INCLUDE_DIR}
                               ${SECCOMP_INCLUDE_DIR})
    # OpenSSL's configuration headers lie in the architecture's own folder.
    if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS ${OPENSSL_EVP_INCLUDE_DIR}/${CMAKE_LIBRARY_ARCHITECTURE})
      target_include_directories(quenthar_image SYSTEM PRIVATE
                                 ${OPENSSL_EVP_INCLUDE_DIR}/${CMAKE_LIBRARY_ARCHITECTURE})
    endif()
  endif()
  target_link_libraries(quenthar_image PUBLIC quenthar_log PRIVATE ${image_libraries}
                        ${SECCOMP_LIBRARY})
  if(renamed_archives)
    add_custom_target(quenthar_image_archives DEPENDS ${renamed_archives})
    add_dependencies(quenthar_image quenthar_image_archives)
  endif()
elseif(QUENTHAR_IMAGES STREQUAL "ON")
  message(FATAL_ERROR "Disk images asked for, but ${images_why}")
else()
  message(STATUS "Disk images: not read by this build (${images_why}); --image is refused")
endif()
