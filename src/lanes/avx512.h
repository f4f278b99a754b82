// Avx512Lanes: eight doubles in an AVX-512 register, with the names of
// scalar.h. Only for the files the build compiles with -mavx512f
// (contraction stays off, so no fused multiply-add is generated), whose code
// runs only on processors that have AVX-512 (lane_dispatch.cpp); nothing
// else may include it, so that no code for AVX-512 reaches the portable
// build.
#pragma once

#if !defined(__AVX512F__)
#error "lanes/avx512.h is for the files compiled with -mavx512f"
#endif

#include <immintrin.h>

#include <cstdint>

// GCC 12 takes the deliberate self-initialisation in its own
// _mm512_undefined_pd/_ps for a use of an uninitialised value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace mervox {

struct Avx512Lanes {
    using Reg = __m512d;
    using Mask = __mmask8;
    using Int32s = __m256i;  // eight 32-bit lanes
    static constexpr int kWidth = 8;

    static Reg Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, Reg r) { _mm512_storeu_pd(p, r); }
    static Reg Widen(const float* p) { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
    static void Narrow(float* p, Reg r) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(r)); }
    static Reg Round(Reg r) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(r)); }
    static Reg Set(double d) { return _mm512_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm512_sub_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
    static Reg Div(Reg a, Reg b) { return _mm512_div_pd(a, b); }
    static Reg ZeroWhereZero(Reg e, Reg q)
    {
        return _mm512_mask_mov_pd(q, _mm512_cmp_pd_mask(e, _mm512_setzero_pd(), _CMP_EQ_OQ), _mm512_setzero_pd());
    }

    static Mask NotBelowZero(Reg v) { return _mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_GE_OQ); }
    static Reg Select(Mask m, Reg a, Reg b) { return _mm512_mask_mov_pd(b, m, a); }
    static Reg Min(Reg a, Reg b) { return _mm512_min_pd(a, b); }
    static Reg Max(Reg a, Reg b) { return _mm512_max_pd(a, b); }
    static Reg ZeroWhereNaN(Reg v, Reg r) { return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(v, v, _CMP_ORD_Q), r); }
    static Int32s TruncateToInt32(Reg v) { return _mm512_cvttpd_epi32(v); }
    static void StorePcm16(int16_t* p, Int32s i)
    {
        const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
    }
};

}  // namespace mervox
