# Where Debian expects everything: the daemon in sbin, the tools in bin, the
# configuration under /etc, the unit, the compressed manual pages and the
# example bus under share/doc. Packaged with CPack (packaging/cpack.cmake).

set(VELKOR_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING "Directory of the systemd unit, below the prefix unless absolute")
set(VELKOR_CONFIG_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/velkor")

install(TARGETS velkor RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS velkor-cmd velkor-decode velkor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/mbus.conf DESTINATION ${VELKOR_CONFIG_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/tools/velkor-sim/examples/demo.bus DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

configure_file(${CMAKE_SOURCE_DIR}/packaging/velkor.service.in ${CMAKE_BINARY_DIR}/packaging/velkor.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velkor.service DESTINATION ${VELKOR_SYSTEMD_UNITDIR})

# Manual pages: roff sources in man/, installed gzip-compressed (-n: no
# name or time stamp, so the packages build reproducibly).
set(VELKOR_MAN_PAGES velkor.8 mbus.conf.5 velkor-cmd.1 velkor-decode.1 velkor-sim.1)
set(compressed_pages)
foreach(page ${VELKOR_MAN_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/man/${page})
  set(target ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${target}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND compressed_pages ${target})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${target} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${compressed_pages})

include(${CMAKE_SOURCE_DIR}/packaging/cpack.cmake)

# The package velkor-poll, a component of its own.
include(${CMAKE_SOURCE_DIR}/packaging/velkor-poll/package.cmake)
