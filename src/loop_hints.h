// MERVOX_UNROLL(n): fully unroll the loop that follows (n iterations), so
// that small fixed-size arrays of sums or recent samples stay in registers.
// A hint only: the result never depends on it. Compilers without the GCC
// pragma (which clang also accepts) ignore it.
#pragma once

#if defined(__GNUC__)
#define MERVOX_PRAGMA(text) _Pragma(#text)
#define MERVOX_UNROLL(n) MERVOX_PRAGMA(GCC unroll n)
#else
#define MERVOX_UNROLL(n)
#endif
