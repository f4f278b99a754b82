# Cross build for s390x Linux with Debian's cross compiler (package
# g++-s390x-linux-gnu); programs run under qemu-user (package qemu-user):
#
#   cmake -S . -B build/cross-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake \
#         -DMERVOX_CORPUS_CHECK_ONLY=ON -DMERVOX_BUILD_TOOLS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF
#   cmake --build build/cross-s390x -j2 && ctest --test-dir build/cross-s390x
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(MERVOX_CROSS_TRIPLET s390x-linux-gnu CACHE STRING "Target triplet of the cross tools")
set(CMAKE_C_COMPILER ${MERVOX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MERVOX_CROSS_TRIPLET}-g++)

# Test programs run under the user-mode emulator, with the target's C and C++
# runtime libraries from /usr/${MERVOX_CROSS_TRIPLET}.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/${MERVOX_CROSS_TRIPLET})

set(CMAKE_FIND_ROOT_PATH /usr/${MERVOX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
