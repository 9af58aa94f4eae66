# Install, package, unit and manual pages, checked by a script over the
# build folder; a check whose tool is missing is skipped.
foreach(check install package unit man)
  add_test(NAME service_${check}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/service_checks.sh ${check} ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(service_${check} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endforeach()
