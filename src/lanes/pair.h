// DoublePair: two doubles side by side, for stages that do the same
// operations on two independent values (two samples of a filter, two LPC
// sets). Each lane is an ordinary IEEE double: adding, multiplying or
// rounding a pair gives in each lane exactly what the scalar operation
// gives, so a lane form is bit-identical to the scalar form it replaces.
//
// With GCC and clang the pair is a generic vector, which the compiler maps
// to the target's vector unit (SSE2 on x86, NEON on aarch64) or to scalar
// code where there is none; the project compiles without contraction, so no
// multiplication is fused into an addition. Other compilers get a plain
// two-element record with the same operations.
#pragma once

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mervox {

#if defined(__GNUC__)

typedef double DoublePair __attribute__((vector_size(2 * sizeof(double))));
typedef float FloatPair __attribute__((vector_size(2 * sizeof(float))));

inline DoublePair ToDoublePair(FloatPair f) { return __builtin_convertvector(f, DoublePair); }
inline FloatPair ToFloatPair(DoublePair d) { return __builtin_convertvector(d, FloatPair); }

#else

// For compilers without GCC's vector extensions. GCC itself must never take
// this path: GCC 12 on x86-64 at -O2 (its straight-line vectorizer) drops
// the float round trip of two adjacent doubles written out lane by lane
// like this, so RoundToFloat would not round.
struct DoublePair {
    double v[2];
    double& operator[](int i) { return v[i]; }
    double operator[](int i) const { return v[i]; }
};
struct FloatPair {
    float v[2];
    float& operator[](int i) { return v[i]; }
    float operator[](int i) const { return v[i]; }
};

inline DoublePair operator+(DoublePair a, DoublePair b) { return {{a[0] + b[0], a[1] + b[1]}}; }
inline DoublePair operator-(DoublePair a, DoublePair b) { return {{a[0] - b[0], a[1] - b[1]}}; }
inline DoublePair operator*(DoublePair a, DoublePair b) { return {{a[0] * b[0], a[1] * b[1]}}; }
inline DoublePair operator-(DoublePair a) { return {{-a[0], -a[1]}}; }
inline DoublePair ToDoublePair(FloatPair f) { return {{f[0], f[1]}}; }
inline FloatPair ToFloatPair(DoublePair d) { return {{static_cast<float>(d[0]), static_cast<float>(d[1])}}; }

#endif

inline DoublePair BroadcastPair(double d) { return DoublePair{d, d}; }
inline DoublePair MakePair(double a, double b) { return DoublePair{a, b}; }

#if defined(__SSE2__) && defined(__GNUC__)

// The same conversions as below, spelled with SSE2's instructions, which
// compilers do not always find for 8-byte float vectors.
inline DoublePair LoadFloatPair(const float* p)
{
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
inline void StoreFloatPair(float* p, DoublePair d)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(d)));
}
inline DoublePair RoundToFloat(DoublePair d) { return _mm_cvtps_pd(_mm_cvtpd_ps(d)); }
inline DoublePair MiddlePair(DoublePair a, DoublePair b) { return _mm_shuffle_pd(a, b, 1); }
inline DoublePair ProductOfFloats(float g, const float* p)
{
    const __m128 two = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    return _mm_cvtps_pd(_mm_mul_ps(_mm_set1_ps(g), two));
}
inline void StoreSumOfFloats(float* p, DoublePair a, const float* b)
{
    const __m128 two = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_add_ps(_mm_cvtpd_ps(a), two)));
}

#else

// p[0], p[1] as doubles (exact).
inline DoublePair LoadFloatPair(const float* p)
{
    FloatPair f;
    std::memcpy(&f, p, sizeof f);
    return ToDoublePair(f);
}

// Each lane rounded to single precision, stored at p[0], p[1].
inline void StoreFloatPair(float* p, DoublePair d)
{
    const FloatPair f = ToFloatPair(d);
    std::memcpy(p, &f, sizeof f);
}

// Each lane rounded to single precision and widened back: a float store and
// reload, without the memory.
inline DoublePair RoundToFloat(DoublePair d) { return ToDoublePair(ToFloatPair(d)); }

// a[1], b[0]: the pair between two adjacent pairs.
inline DoublePair MiddlePair(DoublePair a, DoublePair b) { return DoublePair{a[1], b[0]}; }

// g * p[0], g * p[1], each rounded to single precision (a float product:
// the same as the double product of the two floats rounded to float, which
// is exact before its one rounding), as doubles.
inline DoublePair ProductOfFloats(float g, const float* p)
{
    return DoublePair{static_cast<float>(g * p[0]), static_cast<float>(g * p[1])};
}

// p[i] = float(a[i]) + b[i] in single precision, i = 0, 1: the same as the
// double sum of the two floats rounded to float (double rounding is harmless
// for a sum of two floats, double having more than twice float's precision).
inline void StoreSumOfFloats(float* p, DoublePair a, const float* b)
{
    p[0] = static_cast<float>(a[0]) + b[0];
    p[1] = static_cast<float>(a[1]) + b[1];
}

#endif

}  // namespace mervox
