# A Debian package of everything install.cmake installs: `cpack -G DEB` in a
# build folder, or scripts/package for the host, armhf and arm64.

set(VELKOR_PACKAGE_MAINTAINER "velkor developers <velkor@example.org>" CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELKOR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "master daemon for a wired M-Bus (EN 13757-2/-3)")
set(CPACK_PACKAGE_DESCRIPTION "velkor makes a gateway the master of a wired M-Bus: it finds heat, water,
gas and electricity meters on a serial line, reads and decodes their data,
manages their addresses and sends them control requests. A local client
writes command records into a FIFO and reads JSON result files. The package
holds the daemon with a systemd unit (not enabled), the client velkor-cmd,
the offline decoder velkor-decode and the bus simulator velkor-sim.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The libraries come from the binaries (packaging/cpack_project.cmake.in).
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)

configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/conffiles.in ${CMAKE_BINARY_DIR}/packaging/debian/conffiles @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
  ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
  ${CMAKE_SOURCE_DIR}/packaging/debian/postrm
  ${CMAKE_BINARY_DIR}/packaging/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The architecture of the binaries, not of the machine that packs them.
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|armv7.*)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  else()
    message(FATAL_ERROR "no Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  list(GET CMAKE_FIND_ROOT_PATH 0 VELKOR_TARGET_ROOT)
else()
  set(VELKOR_TARGET_ROOT "")
endif()

set(VELKOR_PACKAGED_PROGRAMS
  ${CMAKE_BINARY_DIR}/velkor
  ${CMAKE_BINARY_DIR}/tools/velkor-cmd
  ${CMAKE_BINARY_DIR}/tools/velkor-decode
  ${CMAKE_BINARY_DIR}/tools/velkor-sim)
configure_file(${CMAKE_SOURCE_DIR}/packaging/cpack_project.cmake.in ${CMAKE_BINARY_DIR}/packaging/cpack_project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/cpack_project.cmake)

include(CPack)
