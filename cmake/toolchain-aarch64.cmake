# Cross-build for aarch64 Linux with Debian's aarch64-linux-gnu toolchain.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and GoogleTest's discovery) run under qemu-user with the
# target's libraries.
# VELKOR_QEMU_ROOT: where they find them, if not in the toolchain's root.
if(NOT VELKOR_QEMU_ROOT)
  set(VELKOR_QEMU_ROOT /usr/aarch64-linux-gnu)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;${VELKOR_QEMU_ROOT})
