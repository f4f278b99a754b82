# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain, POSIX
# thread model (package g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build/windows-x86_64 \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake -DMERVOX_BUILD_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
# x86_64 makes src/CMakeLists.txt build the AVX2 and AVX-512 kernels.
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MERVOX_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
set(CMAKE_C_COMPILER ${MERVOX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MERVOX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MERVOX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MERVOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
