# No allocation per command: this program counts malloc and operator new.
add_executable(control_alloc_tests ${CMAKE_CURRENT_SOURCE_DIR}/control/alloc/no_allocation.cpp)
target_link_libraries(control_alloc_tests PRIVATE velkor_test_support GTest::gtest_main)
if(TARGET velkor_meter_model)
  target_link_libraries(control_alloc_tests PRIVATE velkor_meter_model)
endif()
gtest_discover_tests(control_alloc_tests
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  PROPERTIES TIMEOUT 60
  DISCOVERY_TIMEOUT 60)
