# Cross build for aarch64 Linux with Debian's cross compiler (package
# g++-aarch64-linux-gnu); programs run under qemu-user (package qemu-user):
#
#   cmake -S . -B build/cross-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
#         -DMERVOX_CORPUS_CHECK_ONLY=ON -DMERVOX_BUILD_TOOLS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF
#   cmake --build build/cross-aarch64 -j2 && ctest --test-dir build/cross-aarch64
set(MERVOX_CROSS_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
