// The output conversion (ConvertToPcm16) four samples at a time. With SSE2,
// two samples a register and without a branch: v + 0.5 for v >= 0 (-0.0 included), v - 0.5 below, in
// double; saturated at -32768 and 32767 (which gives exactly the limits
// 32766.5 and -32767.5 of the plain form); NaN to 0; truncated toward zero.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mervox {

#if defined(__SSE2__)

// Two int32 results in the low half.
inline __m128i RoundPcm16Pair(__m128d v)
{
    const __m128d nonNegative = _mm_cmpge_pd(v, _mm_setzero_pd());
    const __m128d half =
        _mm_or_pd(_mm_and_pd(nonNegative, _mm_set1_pd(0.5)), _mm_andnot_pd(nonNegative, _mm_set1_pd(-0.5)));
    __m128d r = _mm_min_pd(_mm_max_pd(_mm_add_pd(v, half), _mm_set1_pd(-32768.0)), _mm_set1_pd(32767.0));
    r = _mm_and_pd(r, _mm_cmpord_pd(v, v));
    return _mm_cvttpd_epi32(r);
}

// Four samples in, four 16-bit samples out (eight bytes).
inline void ConvertPcm16Quad(int16_t* out, const float* in)
{
    const __m128 f = _mm_loadu_ps(in);
    const __m128i lo = RoundPcm16Pair(_mm_cvtps_pd(f));
    const __m128i hi = RoundPcm16Pair(_mm_cvtps_pd(_mm_movehl_ps(f, f)));
    const __m128i all = _mm_unpacklo_epi64(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(all, all));
}

#else

// One sample, one branch per case.
inline int16_t ConvertPcm16Sample(float sample)
{
    const double v = sample;
    if (v >= 0.0)
        return v > 32766.5 ? 32767 : static_cast<int16_t>(v + 0.5);
    if (v < 0.0)
        return v < -32767.5 ? -32768 : static_cast<int16_t>(v - 0.5);
    return 0;  // NaN: no meaningful sample; never convert it
}

inline void ConvertPcm16Quad(int16_t* out, const float* in)
{
    for (int i = 0; i < 4; ++i)
        out[i] = ConvertPcm16Sample(in[i]);
}

#endif

}  // namespace mervox
