// Avx2Lanes: four doubles in an AVX2 register, with the names of scalar.h.
// Only for the files the build compiles with -mavx2 (contraction stays off,
// so no multiplication is fused into an addition; tests/lanes checks the
// machine code), whose code runs only on processors that have AVX2
// (lane_dispatch.cpp); nothing else may include it, so that no code for
// AVX2 reaches the portable build.
#pragma once

#if !defined(__AVX2__)
#error "lanes/avx2.h is for the files compiled with -mavx2"
#endif

#include <immintrin.h>

#include <cstdint>

namespace mervox {

struct Avx2Lanes {
    using Reg = __m256d;
    using Mask = __m256d;    // all bits set in the lanes where it holds
    using Int32s = __m128i;  // four 32-bit lanes
    static constexpr int kWidth = 4;

    static Reg Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, Reg r) { _mm256_storeu_pd(p, r); }
    static Reg Widen(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    static void Narrow(float* p, Reg r) { _mm_storeu_ps(p, _mm256_cvtpd_ps(r)); }
    static Reg Round(Reg r) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(r)); }
    static Reg Set(double d) { return _mm256_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm256_sub_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    static Reg Div(Reg a, Reg b) { return _mm256_div_pd(a, b); }
    static Reg ZeroWhereZero(Reg e, Reg q)
    {
        return _mm256_andnot_pd(_mm256_cmp_pd(e, _mm256_setzero_pd(), _CMP_EQ_OQ), q);
    }

    static Mask NotBelowZero(Reg v) { return _mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_GE_OQ); }
    static Reg Select(Mask m, Reg a, Reg b) { return _mm256_blendv_pd(b, a, m); }
    static Reg Min(Reg a, Reg b) { return _mm256_min_pd(a, b); }
    static Reg Max(Reg a, Reg b) { return _mm256_max_pd(a, b); }
    static Reg ZeroWhereNaN(Reg v, Reg r) { return _mm256_and_pd(r, _mm256_cmp_pd(v, v, _CMP_ORD_Q)); }
    static Int32s TruncateToInt32(Reg v) { return _mm256_cvttpd_epi32(v); }
    static void StorePcm16(int16_t* p, Int32s i)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(i, i));
    }
};

}  // namespace mervox
