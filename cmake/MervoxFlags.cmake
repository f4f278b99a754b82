# Compiler settings every mervox target gets through mervox_flags.
#
# Output samples must be bit-identical on every compiler and target: no
# fused multiply-add (contraction changes rounding), no fast-math, and on
# 32-bit x86 SSE2 arithmetic instead of x87's extended precision. GCC's
# straight-line (SLP) vectorizer is off: GCC 12 drops the rounding to float
# of two neighbouring doubles that it vectorizes (a double rounded to float
# and stored back as a double comes out unrounded), which the decoder's
# float-rounded doubles cannot afford. Its loop vectorizer keeps them.
#
# Warnings: -Wall -Wextra -Wconversion -Wshadow everywhere (without sign
# conversions, which gcc leaves out of -Wconversion for C++ and clang does
# not), as errors with MERVOX_WERROR: scripts/test.sh turns it on, while a
# user's build is not stopped by a newer compiler's new warning.
# mervox_flags is a build-only target: it is never installed or exported, so
# none of this reaches a consumer of the library.
option(MERVOX_WERROR "Treat compiler warnings as errors" OFF)

add_library(mervox_flags INTERFACE)
target_compile_options(mervox_flags INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang,AppleClang>:-Wall -Wextra -Wconversion -Wno-sign-conversion -Wshadow -ffp-contract=off -fno-fast-math>
  $<$<COMPILE_LANG_AND_ID:C,GNU,Clang,AppleClang>:-Wall -Wextra -Wconversion -Wno-sign-conversion -Wshadow -ffp-contract=off -fno-fast-math>
  $<$<COMPILE_LANG_AND_ID:CXX,GNU>:-fno-tree-slp-vectorize>
  $<$<COMPILE_LANG_AND_ID:C,GNU>:-fno-tree-slp-vectorize>
  $<$<CXX_COMPILER_ID:MSVC>:/W4 /fp:precise>)
if(MERVOX_WERROR)
  target_compile_options(mervox_flags INTERFACE $<IF:$<CXX_COMPILER_ID:MSVC>,/WX,-Werror>)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$"
   AND NOT MSVC)
  target_compile_options(mervox_flags INTERFACE -msse2 -mfpmath=sse)
endif()

if(MERVOX_SANITIZE)
  target_compile_options(mervox_flags INTERFACE -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
                                                -fno-omit-frame-pointer)
  target_link_options(mervox_flags INTERFACE -fsanitize=address,undefined)
endif()
