# Cross-builds quorvex for 64-bit ARM Linux (Raspberry Pi, ARM build hosts)
# with Debian's g++-aarch64-linux-gnu and runs what it builds under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static programs need no set-up; -L lets a dynamic one find the target's
# loader and libraries too.
find_program(QEMU_AARCH64_PROGRAM NAMES qemu-aarch64 qemu-aarch64-static)
if(QEMU_AARCH64_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64_PROGRAM} -L /usr/aarch64-linux-gnu)
endif()
