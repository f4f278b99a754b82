// The lane kernel with SSE2: two streams a register (the x86-64 baseline,
// and required of 32-bit x86 builds too).
#include "postfilter/filter_lanes.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstring>

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/formant_constants.h"
#include "postfilter/pcm16_convert.h"
#include "tables/tables.h"

namespace mervox {
namespace lanes_sse2 {
namespace {

struct V {
    using Reg = __m128d;
    static constexpr int kWidth = 2;
    static constexpr int kGroups = 4;

    static Reg Widen(const float* p)
    {
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static void Narrow(float* p, Reg v)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
    }
    static Reg Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, Reg v) { _mm_storeu_pd(p, v); }
    static Reg Round(Reg v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); }
    static Reg Set(double d) { return _mm_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm_sub_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    static Reg Div(Reg a, Reg b) { return _mm_div_pd(a, b); }
    static Reg ZeroWhereZero(Reg e, Reg q) { return _mm_andnot_pd(_mm_cmpeq_pd(e, _mm_setzero_pd()), q); }

    static void StorePcm(int16_t* out, Reg v)
    {
        const __m128i two = RoundPcm16Pair(v);
        const int32_t packed = _mm_cvtsi128_si32(_mm_packs_epi32(two, two));
        std::memcpy(out, &packed, sizeof packed);
    }
};

#include "postfilter/filter_lanes_kernel.inl"

}  // namespace
}  // namespace lanes_sse2

bool FilterLanesSse2(const LaneStream* streams, int count)
{
    lanes_sse2::FilterAll(streams, count);
    return true;
}

int LaneGroupSse2() { return lanes_sse2::V::kGroups * lanes_sse2::V::kWidth; }

}  // namespace mervox

#else

namespace mervox {
bool FilterLanesSse2(const LaneStream*, int) { return false; }
int LaneGroupSse2() { return 0; }
}  // namespace mervox

#endif
