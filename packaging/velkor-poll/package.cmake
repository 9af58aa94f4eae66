# The package velkor-poll, apart from velkor so that gateways without MQTT do
# not need libmosquitto: its files are the install component velkor-poll
# (left out of the velkor package), packed by a CPack configuration of its
# own: `cpack --config CPackConfig-velkor-poll.cmake -G DEB` in a build folder.
# Included by packaging/install.cmake after the velkor package is set up.

set(poll_component COMPONENT velkor-poll EXCLUDE_FROM_ALL)
install(TARGETS velkor-poll RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${poll_component})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/velkor-poll/poll.conf DESTINATION ${VELKOR_CONFIG_DIR} ${poll_component})
configure_file(${CMAKE_SOURCE_DIR}/packaging/velkor-poll/velkor-poll.service.in
  ${CMAKE_BINARY_DIR}/packaging/velkor-poll/velkor-poll.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velkor-poll/velkor-poll.service DESTINATION ${VELKOR_SYSTEMD_UNITDIR}
  ${poll_component})
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/velkor-poll.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/man/velkor-poll.1 > ${CMAKE_BINARY_DIR}/man/velkor-poll.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/man/velkor-poll.1
  VERBATIM)
add_custom_target(man_page_poll ALL DEPENDS ${CMAKE_BINARY_DIR}/man/velkor-poll.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/velkor-poll.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${poll_component})

# Depends: the libraries of velkor-poll (libmosquitto1 with MQTT), by the
# same dpkg-shlibdeps step as the velkor package, and velkor itself.
set(VELKOR_PACKAGED_PROGRAMS ${CMAKE_BINARY_DIR}/tools/velkor-poll)
configure_file(${CMAKE_SOURCE_DIR}/packaging/cpack_project.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/velkor-poll/cpack_project.cmake @ONLY)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/velkor-poll/conffiles "${VELKOR_CONFIG_DIR}/poll.conf\n")
configure_file(${CMAKE_SOURCE_DIR}/packaging/velkor-poll/CPackConfig.cmake.in
  ${CMAKE_BINARY_DIR}/CPackConfig-velkor-poll.cmake @ONLY)
