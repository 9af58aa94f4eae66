# The decode path under AddressSanitizer and UBSan: a program with its own
# instrumented copy of the decode and log sources and the random-area test.
# (Not in a ThreadSanitizer build, which cannot be mixed with it.)
if(NOT VELKOR_SANITIZE STREQUAL "thread")
file(GLOB decode_asan_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/decode/*.cpp
  ${PROJECT_SOURCE_DIR}/src/base/*.cpp)
add_executable(decode_asan_tests
  ${decode_asan_sources}
  ${CMAKE_CURRENT_SOURCE_DIR}/decode/asan/records_property.cpp)
target_include_directories(decode_asan_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(decode_asan_tests PRIVATE
  -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_link_options(decode_asan_tests PRIVATE -fsanitize=address,undefined)
target_link_libraries(decode_asan_tests PRIVATE GTest::gtest_main Threads::Threads)
gtest_discover_tests(decode_asan_tests
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  PROPERTIES TIMEOUT 300
  DISCOVERY_TIMEOUT 60)
endif()

# Walking and rendering must not allocate: this program counts operator new.
add_executable(decode_alloc_tests ${CMAKE_CURRENT_SOURCE_DIR}/decode/alloc/no_allocation.cpp)
target_include_directories(decode_alloc_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(decode_alloc_tests PRIVATE velkor_core GTest::gtest_main)
gtest_discover_tests(decode_alloc_tests
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  PROPERTIES TIMEOUT 60
  DISCOVERY_TIMEOUT 60)
