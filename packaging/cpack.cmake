# The Debian packages, one per CPack component: `cpack -G DEB` in a build
# folder, or scripts/package for the host, armhf and arm64.
#
# A further package: install its files with COMPONENT <name> (programs with
# velkor_install_program), add packaging/<name>.files (its files and modes)
# and describe it below with velkor_debian_package(<name> ...). Its Depends
# come from its programs, its doc folder gets the copyright and changelog.

set(VELKOR_PACKAGE_MAINTAINER "velkor developers <velkor@example.org>" CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELKOR_PACKAGE_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENTS_ALL)

# velkor_debian_package(NAME SUMMARY text DESCRIPTION text PROGRAMS target...
#                       [SECTION section] [DEPENDS packages] [SCRIPTS file...] [CONFFILES path...])
# DEPENDS is added to what the programs' libraries need; SCRIPTS are
# maintainer scripts, as paths below packaging/.
macro(velkor_debian_package name)
  cmake_parse_arguments(pkg "" "SUMMARY;DESCRIPTION;SECTION;DEPENDS" "PROGRAMS;SCRIPTS;CONFFILES" ${ARGN})
  string(TOUPPER "${name}" pkg_upper)
  list(APPEND CPACK_COMPONENTS_ALL ${name})
  set(CPACK_DEBIAN_${pkg_upper}_PACKAGE_NAME ${name})
  set(CPACK_DEBIAN_${pkg_upper}_DESCRIPTION "${pkg_SUMMARY}\n${pkg_DESCRIPTION}")
  if(pkg_SECTION)
    set(CPACK_DEBIAN_${pkg_upper}_PACKAGE_SECTION ${pkg_SECTION})
  else()
    set(CPACK_DEBIAN_${pkg_upper}_PACKAGE_SECTION misc)
  endif()
  set(VELKOR_PACKAGE_${pkg_upper}_DEPENDS "${pkg_DEPENDS}")
  set(VELKOR_PACKAGE_${pkg_upper}_PROGRAMS)
  foreach(program ${pkg_PROGRAMS})
    get_target_property(program_dir ${program} BINARY_DIR)
    list(APPEND VELKOR_PACKAGE_${pkg_upper}_PROGRAMS ${program_dir}/${program})
  endforeach()
  set(pkg_control)
  foreach(script ${pkg_SCRIPTS})
    list(APPEND pkg_control ${CMAKE_SOURCE_DIR}/packaging/${script})
  endforeach()
  if(pkg_CONFFILES)
    string(REPLACE ";" "\n" pkg_conffiles "${pkg_CONFFILES}")
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/${name}/conffiles "${pkg_conffiles}\n")
    list(APPEND pkg_control ${CMAKE_BINARY_DIR}/packaging/${name}/conffiles)
  endif()
  set(CPACK_DEBIAN_${pkg_upper}_PACKAGE_CONTROL_EXTRA ${pkg_control})
  # Every package's own doc folder: who holds the copyright, and the history.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${name})
  velkor_install_gzipped(${CMAKE_SOURCE_DIR}/packaging/debian/changelog ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} ${name})
endmacro()

velkor_debian_package(velkor
  SUMMARY "master daemon for a wired M-Bus (EN 13757-2/-3)"
  DESCRIPTION "velkor makes a gateway the master of a wired M-Bus: it finds heat, water,
gas and electricity meters on a serial line, reads and decodes their data,
manages their addresses and sends them control requests. A local client
writes command records into a FIFO and reads JSON result files. The package
holds the daemon with its systemd units (not enabled), the client velkor-cmd,
the offline decoder velkor-decode and the bus simulator velkor-sim."
  PROGRAMS velkor velkor-cmd velkor-decode velkor-sim
  DEPENDS adduser
  SCRIPTS debian/postinst debian/prerm debian/postrm
  CONFFILES ${VELKOR_CONFIG_DIR}/mbus.conf)

velkor_debian_package(velkor-poll
  SUMMARY "publishes M-Bus meter readings as JSON lines and over MQTT"
  DESCRIPTION "velkor-poll reads every meter of a wired M-Bus on a schedule through the
velkor daemon, decodes the telegrams into numbers in fixed units and
publishes them as JSON lines and over MQTT, with Home Assistant discovery.
The package holds the program, its configuration and a systemd unit (not
enabled)."
  PROGRAMS velkor-poll
  DEPENDS "velkor (= ${PROJECT_VERSION})"
  SCRIPTS velkor-poll/postinst velkor-poll/prerm velkor-poll/postrm
  CONFFILES ${VELKOR_CONFIG_DIR}/poll.conf)

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

# Per package the programs whose libraries become its Depends, and what it
# depends on besides, for cpack_project.cmake.
set(VELKOR_PACKAGE_LIST "${CPACK_COMPONENTS_ALL}")
set(VELKOR_PACKAGE_SETTINGS "")
foreach(name ${CPACK_COMPONENTS_ALL})
  string(TOUPPER "${name}" upper)
  string(APPEND VELKOR_PACKAGE_SETTINGS
    "set(programs_${upper} \"${VELKOR_PACKAGE_${upper}_PROGRAMS}\")\n"
    "set(depends_${upper} \"${VELKOR_PACKAGE_${upper}_DEPENDS}\")\n")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/packaging/cpack_project.cmake.in ${CMAKE_BINARY_DIR}/packaging/cpack_project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/cpack_project.cmake)

include(CPack)
