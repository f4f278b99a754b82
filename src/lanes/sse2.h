// Sse2Lanes: two doubles in an SSE2 register (the x86-64 baseline, and
// required of 32-bit x86 builds too), with the names of scalar.h. With
// GCC and clang the register is also a generic vector, so code written for
// a pair of doubles (DoublePair, pair.h) may use + - * on it.
#pragma once

#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace mervox {

struct Sse2Lanes {
    using Reg = __m128d;
    using Mask = __m128d;    // all bits set in the lanes where it holds
    using Int32s = __m128i;  // in the low two 32-bit lanes
    static constexpr int kWidth = 2;

    static Reg Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, Reg r) { _mm_storeu_pd(p, r); }
    static Reg Widen(const float* p) { return _mm_cvtps_pd(FloatPair(p)); }
    static void Narrow(float* p, Reg r)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(r)));
    }
    static Reg Round(Reg r) { return _mm_cvtps_pd(_mm_cvtpd_ps(r)); }
    static Reg Set(double d) { return _mm_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm_sub_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    static Reg Div(Reg a, Reg b) { return _mm_div_pd(a, b); }
    static Reg ZeroWhereZero(Reg e, Reg q) { return _mm_andnot_pd(_mm_cmpeq_pd(e, _mm_setzero_pd()), q); }

    static Mask NotBelowZero(Reg v) { return _mm_cmpge_pd(v, _mm_setzero_pd()); }
    static Reg Select(Mask m, Reg a, Reg b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static Reg Min(Reg a, Reg b) { return _mm_min_pd(a, b); }
    static Reg Max(Reg a, Reg b) { return _mm_max_pd(a, b); }
    static Reg ZeroWhereNaN(Reg v, Reg r) { return _mm_and_pd(r, _mm_cmpord_pd(v, v)); }
    static Int32s TruncateToInt32(Reg v) { return _mm_cvttpd_epi32(v); }
    static void StorePcm16(int16_t* p, Int32s i)
    {
        const int32_t packed = _mm_cvtsi128_si32(_mm_packs_epi32(i, i));
        std::memcpy(p, &packed, sizeof packed);
    }

    // For stages that work on a pair of neighbouring samples (pair.h).
    static Reg Make(double a, double b) { return _mm_setr_pd(a, b); }
    // a[1], b[0]: the pair between two adjacent pairs.
    static Reg MiddlePair(Reg a, Reg b) { return _mm_shuffle_pd(a, b, 1); }
    // g * p[0], g * p[1] as floats (rounded to single precision), widened.
    static Reg ProductOfFloats(float g, const float* p)
    {
        return _mm_cvtps_pd(_mm_mul_ps(_mm_set1_ps(g), FloatPair(p)));
    }
    // p[i] = float(a[i]) + b[i] in single precision, i = 0, 1.
    static void StoreSumOfFloats(float* p, Reg a, const float* b)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_add_ps(_mm_cvtpd_ps(a), FloatPair(b))));
    }

    // The one load of a float pair: p[0], p[1] in the low lanes (eight
    // bytes, which compilers do not always find for an 8-byte float vector).
    static __m128 FloatPair(const float* p)
    {
        return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
};

}  // namespace mervox

#endif
