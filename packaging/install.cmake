# Where Debian expects everything: the daemon in sbin, the tools in bin, the
# configuration under /etc, the units, the compressed manual pages and the
# documents under share/doc. Every rule names the Debian package (CPack
# component) that holds the file; packaging/cpack.cmake describes the packages.

set(VELKOR_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING "Directory of the systemd units, below the prefix unless absolute")
set(VELKOR_CONFIG_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/velkor")

# A program of a package. A packed (stripped) program also loses the
# compiler's .comment and .note sections, as Debian's own packages do.
function(velkor_install_program target destination package)
  install(TARGETS ${target} RUNTIME DESTINATION ${destination} COMPONENT ${package})
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"could not strip ${target}\")
  endif()
endif()" COMPONENT ${package})
endfunction()

# A file compressed as Debian wants manual pages and long documents: gzip -9
# -n (no name or time stamp, so that packages build reproducibly).
function(velkor_install_gzipped source destination package)
  get_filename_component(name ${source} NAME)
  string(MAKE_C_IDENTIFIER "${package}_${destination}_${name}" id)
  set(target ${CMAKE_BINARY_DIR}/gz/${id}/${name}.gz)
  add_custom_command(OUTPUT ${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz/${id}
    COMMAND gzip -9 -n -c ${source} > ${target}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(gz_${id} ALL DEPENDS ${target})
  install(FILES ${target} DESTINATION ${destination} COMPONENT ${package})
endfunction()

velkor_install_program(velkor ${CMAKE_INSTALL_SBINDIR} velkor)
foreach(tool velkor-cmd velkor-decode velkor-sim)
  velkor_install_program(${tool} ${CMAKE_INSTALL_BINDIR} velkor)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/mbus.conf DESTINATION ${VELKOR_CONFIG_DIR} COMPONENT velkor)
install(FILES ${CMAKE_SOURCE_DIR}/tools/velkor-sim/examples/demo.bus
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velkor/examples COMPONENT velkor)
velkor_install_gzipped(${CMAKE_SOURCE_DIR}/README.md ${CMAKE_INSTALL_DATAROOTDIR}/doc/velkor velkor)

# The plain unit serves /etc/velkor/mbus.conf; the template one line each:
# instance NAME reads /etc/velkor/NAME.conf and has its own runtime and log folders.
set(VELKOR_UNIT_DESCRIPTION "velkor M-Bus master daemon")
set(VELKOR_UNIT_CONFIG "${VELKOR_CONFIG_DIR}/mbus.conf")
set(VELKOR_UNIT_FOLDER "velkor")
configure_file(${CMAKE_SOURCE_DIR}/packaging/velkor.service.in ${CMAKE_BINARY_DIR}/packaging/velkor.service @ONLY)
set(VELKOR_UNIT_DESCRIPTION "velkor M-Bus master daemon, line %i")
set(VELKOR_UNIT_CONFIG "${VELKOR_CONFIG_DIR}/%i.conf")
set(VELKOR_UNIT_FOLDER "velkor/%i")
configure_file(${CMAKE_SOURCE_DIR}/packaging/velkor.service.in ${CMAKE_BINARY_DIR}/packaging/velkor@.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velkor.service ${CMAKE_BINARY_DIR}/packaging/velkor@.service
  DESTINATION ${VELKOR_SYSTEMD_UNITDIR} COMPONENT velkor)

foreach(page velkor.8 mbus.conf.5 velkor-cmd.1 velkor-decode.1 velkor-sim.1)
  string(REGEX MATCH "[0-9]$" section ${page})
  velkor_install_gzipped(${CMAKE_SOURCE_DIR}/man/${page} ${CMAKE_INSTALL_MANDIR}/man${section} velkor)
endforeach()

# velkor-poll, a package of its own so that gateways without MQTT do not
# need libmosquitto.
velkor_install_program(velkor-poll ${CMAKE_INSTALL_BINDIR} velkor-poll)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/velkor-poll/poll.conf DESTINATION ${VELKOR_CONFIG_DIR} COMPONENT velkor-poll)
configure_file(${CMAKE_SOURCE_DIR}/packaging/velkor-poll/velkor-poll.service.in
  ${CMAKE_BINARY_DIR}/packaging/velkor-poll.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velkor-poll.service DESTINATION ${VELKOR_SYSTEMD_UNITDIR}
  COMPONENT velkor-poll)
velkor_install_gzipped(${CMAKE_SOURCE_DIR}/man/velkor-poll.1 ${CMAKE_INSTALL_MANDIR}/man1 velkor-poll)

include(${CMAKE_SOURCE_DIR}/packaging/cpack.cmake)
