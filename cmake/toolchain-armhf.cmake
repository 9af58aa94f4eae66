# Cross-build for arm Linux with Debian's arm-linux-gnueabihf toolchain.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# glibc's 32-bit ARM ABI defaults to 32-bit time_t and off_t: a gateway would
# break in 2038 and on logs over 2 GiB.
set(CMAKE_C_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
# -Wno-psabi: g++ notes on every std::pair/std::vector of small structs that
# their passing changed in GCC 7.1; the whole program is built with one compiler.
set(CMAKE_CXX_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 -Wno-psabi")

# Test programs (and GoogleTest's discovery) run under qemu-user with the
# target's libraries.
# VELKOR_QEMU_ROOT: where they find them, if not in the toolchain's root.
if(NOT VELKOR_QEMU_ROOT)
  set(VELKOR_QEMU_ROOT /usr/arm-linux-gnueabihf)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;${VELKOR_QEMU_ROOT})
