# Cross build for aarch64 Linux with Debian's cross compiler (package
# g++-aarch64-linux-gnu); programs run under qemu-user (package qemu-user):
#
#   cmake -S . -B build/cross-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
#         -DMERVOX_CORPUS_CHECK_ONLY=ON -DMERVOX_BUILD_TOOLS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF
#   cmake --build build/cross-aarch64 -j2 && ctest --test-dir build/cross-aarch64
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(MERVOX_CROSS_TRIPLET aarch64-linux-gnu CACHE STRING "Target triplet of the cross tools")
set(CMAKE_C_COMPILER ${MERVOX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MERVOX_CROSS_TRIPLET}-g++)

# Test programs run under the user-mode emulator, with the target's C and C++
# runtime libraries from /usr/${MERVOX_CROSS_TRIPLET}.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${MERVOX_CROSS_TRIPLET})

set(CMAKE_FIND_ROOT_PATH /usr/${MERVOX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
