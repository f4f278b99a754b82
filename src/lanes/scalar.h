// The register traits of the vector code: one struct per instruction set
// (ScalarLanes here, PortablePairLanes in pair.h, Sse2Lanes, Avx2Lanes and
// Avx512Lanes in sse2.h, avx2.h and avx512.h), each with the same names, so
// that a kernel written once as a template on its traits V (the filter
// kernel, the lag search, the output rounding) compiles for each:
//
//   Reg, kWidth          a register of kWidth doubles
//   Load(p), Store(p, r) kWidth doubles from or to p (any alignment)
//   Widen(p)             kWidth floats from p, as doubles (exact)
//   Narrow(p, r)         r rounded to float, stored at p
//   Round(r)             r rounded to float and widened back: a float store
//                        and reload without the memory
//   Set(d)               d in every lane
//   Add, Sub, Mul, Div   lane by lane, each rounded to double
//   ZeroWhereZero(e, q)  q, with 0 in the lanes where e is 0
//
// and for the 16-bit output's rounding (RoundToPcm16, pcm16_convert.h):
//
//   Mask, NotBelowZero(v)   per lane, v >= 0 (-0.0 included; not NaN)
//   Select(m, a, b)         a where m holds, b elsewhere
//   Min(a, b), Max(a, b)    b where either is NaN (as the x86 instructions)
//   ZeroWhereNaN(v, r)      r, with 0 where v is NaN
//   Int32s, TruncateToInt32 the lanes (in range) truncated toward zero
//   StorePcm16(p, i)        kWidth 16-bit samples at p
//
// Lanes never interact: each computes exactly what one double would here,
// which is what makes a lane form bit-identical to the scalar form. The
// project compiles without contraction, so no multiplication is fused into
// an addition (tests/lanes checks the machine code).
//
// Every lane is a plain double here: the kernels' one-lane forms, and the
// output rounding where the build has no vector unit it uses.
#pragma once

#include <cstdint>

namespace mervox {

struct ScalarLanes {
    using Reg = double;
    using Mask = bool;
    using Int32s = int32_t;
    static constexpr int kWidth = 1;

    static Reg Load(const double* p) { return *p; }
    static void Store(double* p, Reg r) { *p = r; }
    static Reg Widen(const float* p) { return *p; }
    static void Narrow(float* p, Reg r) { *p = static_cast<float>(r); }
    static Reg Round(Reg r) { return static_cast<float>(r); }
    static Reg Set(double d) { return d; }
    static Reg Add(Reg a, Reg b) { return a + b; }
    static Reg Sub(Reg a, Reg b) { return a - b; }
    static Reg Mul(Reg a, Reg b) { return a * b; }
    static Reg Div(Reg a, Reg b) { return a / b; }
    static Reg ZeroWhereZero(Reg e, Reg q) { return e == 0.0 ? 0.0 : q; }

    static Mask NotBelowZero(Reg v) { return v >= 0.0; }
    static Reg Select(Mask m, Reg a, Reg b) { return m ? a : b; }
    static Reg Min(Reg a, Reg b) { return a < b ? a : b; }
    static Reg Max(Reg a, Reg b) { return a > b ? a : b; }
    static Reg ZeroWhereNaN(Reg v, Reg r) { return v == v ? r : 0.0; }
    static Int32s TruncateToInt32(Reg v) { return static_cast<int32_t>(v); }
    static void StorePcm16(int16_t* p, Int32s i) { *p = static_cast<int16_t>(i); }
};

}  // namespace mervox
