// Two doubles side by side: PairLanes, the register traits (scalar.h) of a
// pair, and DoublePair, its register, for stages that do the same
// operations on two independent values (two samples of a filter, two LPC
// sets, two lags of a search). Each lane is an ordinary IEEE double:
// adding, multiplying or rounding a pair gives in each lane exactly what
// the scalar operation gives, so a lane form is bit-identical to the scalar
// form it replaces.
//
// On x86 the pair is Sse2Lanes (sse2.h). Elsewhere it is PortablePairLanes:
// with GCC and clang a generic vector, which the compiler maps to the
// target's vector unit (NEON on aarch64) or to scalar code where there is
// none; other compilers get a plain two-element record with the same
// operations. Either way a DoublePair takes + - * and unary minus.
#pragma once

#include <cstring>

#include "lanes/sse2.h"

namespace mervox {

// The operations the lag search and the pair stages use (no rounding to
// 16 bits: without SSE2 the output is converted in plain doubles).
struct PortablePairLanes {
#if defined(__GNUC__)
    typedef double Reg __attribute__((vector_size(2 * sizeof(double))));
    typedef float Floats __attribute__((vector_size(2 * sizeof(float))));
#else
    // For compilers without GCC's vector extensions. GCC itself must never
    // take this path: GCC 12 on x86-64 at -O2 (its straight-line vectorizer)
    // drops the float round trip of two adjacent doubles written out lane by
    // lane like this, so Round would not round.
    struct Reg {
        double v[2];
        double& operator[](int i) { return v[i]; }
        double operator[](int i) const { return v[i]; }
    };
#endif
    static constexpr int kWidth = 2;

    static Reg Load(const double* p)
    {
#if defined(__GNUC__)
        // (Through memcpy, GCC 12 passes the loaded registers through the stack.)
        typedef double Unaligned __attribute__((vector_size(2 * sizeof(double)), aligned(8), may_alias));
        return *reinterpret_cast<const Unaligned*>(p);
#else
        return Reg{{p[0], p[1]}};
#endif
    }
    static void Store(double* p, Reg r)
    {
        p[0] = r[0];
        p[1] = r[1];
    }
#if defined(__GNUC__)
    static Reg Widen(const float* p)
    {
        Floats f;
        std::memcpy(&f, p, sizeof f);
        return __builtin_convertvector(f, Reg);
    }
    static void Narrow(float* p, Reg r)
    {
        const Floats f = __builtin_convertvector(r, Floats);
        std::memcpy(p, &f, sizeof f);
    }
    static Reg Round(Reg r) { return __builtin_convertvector(__builtin_convertvector(r, Floats), Reg); }
#else
    static Reg Widen(const float* p) { return Make(p[0], p[1]); }
    static void Narrow(float* p, Reg r)
    {
        p[0] = static_cast<float>(r[0]);
        p[1] = static_cast<float>(r[1]);
    }
    static Reg Round(Reg r) { return Make(static_cast<float>(r[0]), static_cast<float>(r[1])); }
#endif
    static Reg Set(double d) { return Make(d, d); }
    static Reg Add(Reg a, Reg b) { return a + b; }
    static Reg Mul(Reg a, Reg b) { return a * b; }

    static Reg Make(double a, double b) { return Reg{a, b}; }
    static Reg MiddlePair(Reg a, Reg b) { return Make(a[1], b[0]); }
    // g * p[0], g * p[1], each rounded to single precision (a float product:
    // the same as the double product of the two floats rounded to float,
    // which is exact before its one rounding), as doubles.
    static Reg ProductOfFloats(float g, const float* p)
    {
        return Make(static_cast<float>(g * p[0]), static_cast<float>(g * p[1]));
    }
    // p[i] = float(a[i]) + b[i] in single precision, i = 0, 1: the same as
    // the double sum of the two floats rounded to float (double rounding is
    // harmless for a sum of two floats, double having more than twice
    // float's precision).
    static void StoreSumOfFloats(float* p, Reg a, const float* b)
    {
        p[0] = static_cast<float>(a[0]) + b[0];
        p[1] = static_cast<float>(a[1]) + b[1];
    }
};

#if !defined(__GNUC__)
inline PortablePairLanes::Reg operator+(PortablePairLanes::Reg a, PortablePairLanes::Reg b)
{
    return {{a[0] + b[0], a[1] + b[1]}};
}
inline PortablePairLanes::Reg operator-(PortablePairLanes::Reg a, PortablePairLanes::Reg b)
{
    return {{a[0] - b[0], a[1] - b[1]}};
}
inline PortablePairLanes::Reg operator*(PortablePairLanes::Reg a, PortablePairLanes::Reg b)
{
    return {{a[0] * b[0], a[1] * b[1]}};
}
inline PortablePairLanes::Reg operator-(PortablePairLanes::Reg a) { return {{-a[0], -a[1]}}; }
#endif

#if defined(__SSE2__) && defined(__GNUC__)
using PairLanes = Sse2Lanes;
#else
using PairLanes = PortablePairLanes;
#endif
using DoublePair = PairLanes::Reg;

}  // namespace mervox
