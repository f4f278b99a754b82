# Cross build for 32-bit Windows with Debian's mingw-w64 toolchain
# (package g++-mingw-w64-i686):
#
#   cmake -S . -B build/windows-i686 \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DMERVOX_BUILD_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
# i686 makes cmake/MervoxFlags.cmake add -msse2 -mfpmath=sse.
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MERVOX_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
set(CMAKE_C_COMPILER ${MERVOX_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MERVOX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MERVOX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MERVOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
