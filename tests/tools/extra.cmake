# Install, package, unit and manual pages, checked by a script over the
# build folder; a check whose tool is missing is skipped.
foreach(check install package unit man)
  add_test(NAME service_${check}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/service_checks.sh ${check} ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(service_${check} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endforeach()

# velkor-poll's tests read its JSON with the tools' own reader and start it.
if(TARGET tools_tests)
  target_link_libraries(tools_tests PRIVATE velkor_poll_core)
  add_dependencies(tools_tests velkor-poll)
  if(VELKOR_HAVE_MQTT)
    target_compile_definitions(tools_tests PRIVATE VELKOR_HAVE_MQTT)
  endif()
endif()
