// The output conversion (ConvertToPcm16) four samples at a time, with the
// one rounding of pcm16_round.h: two pairs of SSE2 lanes where the build
// targets SSE2, four plain doubles elsewhere.
#pragma once

#include <cstdint>

#include "lanes/scalar.h"
#include "lanes/sse2.h"
#include "postfilter/pcm16_round.h"

namespace mervox {

// Four samples in, four 16-bit samples out.
inline void ConvertPcm16Quad(int16_t* out, const float* in)
{
#if defined(__SSE2__)
    const __m128 f = _mm_loadu_ps(in);
    const __m128i lo = RoundToPcm16<Sse2Lanes>(_mm_cvtps_pd(f));
    const __m128i hi = RoundToPcm16<Sse2Lanes>(_mm_cvtps_pd(_mm_movehl_ps(f, f)));
    const __m128i all = _mm_unpacklo_epi64(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(all, all));
#else
    for (int i = 0; i < 4; ++i)
        StorePcm16<ScalarLanes>(out + i, in[i]);
#endif
}

}  // namespace mervox
