# Cross build for s390x Linux with Debian's cross compiler (package
# g++-s390x-linux-gnu); programs run under qemu-user (package qemu-user):
#
#   cmake -S . -B build/cross-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake \
#         -DMERVOX_CORPUS_CHECK_ONLY=ON -DMERVOX_BUILD_TOOLS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF
#   cmake --build build/cross-s390x -j2 && ctest --test-dir build/cross-s390x
set(MERVOX_CROSS_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
