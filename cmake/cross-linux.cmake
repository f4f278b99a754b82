# The part of the cross toolchain files common to every Linux target: the
# toolchain file sets MERVOX_CROSS_PROCESSOR (aarch64, s390x, ...) and
# includes this. Debian's cross compiler <processor>-linux-gnu-g++ builds,
# and programs run under qemu-<processor> (package qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MERVOX_CROSS_PROCESSOR})

set(MERVOX_CROSS_TRIPLET ${MERVOX_CROSS_PROCESSOR}-linux-gnu CACHE STRING "Target triplet of the cross tools")
set(CMAKE_C_COMPILER ${MERVOX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MERVOX_CROSS_TRIPLET}-g++)

# Test programs run under the user-mode emulator, with the target's C and C++
# runtime libraries from /usr/${MERVOX_CROSS_TRIPLET}.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${MERVOX_CROSS_PROCESSOR} -L /usr/${MERVOX_CROSS_TRIPLET})

set(CMAKE_FIND_ROOT_PATH /usr/${MERVOX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
