// The lane kernel with AVX2: four streams a register. Compiled with -mavx2
// (never with fused multiply-add) where the build supports it; called only
// on processors that have it.
#include "postfilter/filter_lanes.h"

#if defined(__AVX2__) && !defined(__FMA__)

#include <immintrin.h>

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/formant_constants.h"
#include "tables/tables.h"

namespace mervox {
namespace lanes_avx2 {
namespace {

struct V {
    using Reg = __m256d;
    static constexpr int kWidth = 4;
    static constexpr int kGroups = 4;

    static Reg Widen(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    static void Narrow(float* p, Reg v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
    static Reg Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, Reg v) { _mm256_storeu_pd(p, v); }
    static Reg Round(Reg v) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(v)); }
    static Reg Set(double d) { return _mm256_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm256_sub_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    static Reg Div(Reg a, Reg b) { return _mm256_div_pd(a, b); }
    static Reg ZeroWhereZero(Reg e, Reg q)
    {
        return _mm256_andnot_pd(_mm256_cmp_pd(e, _mm256_setzero_pd(), _CMP_EQ_OQ), q);
    }

    // ConvertToPcm16's rounding: v + 0.5 (v >= 0) or v - 0.5, saturated,
    // NaN to 0, truncated toward zero to int32.
    static __m128i PcmInt32(Reg v)
    {
        const Reg half = _mm256_blendv_pd(Set(-0.5), Set(0.5), _mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_GE_OQ));
        Reg r = _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(v, half), Set(-32768.0)), Set(32767.0));
        r = _mm256_and_pd(r, _mm256_cmp_pd(v, v, _CMP_ORD_Q));
        return _mm256_cvttpd_epi32(r);
    }
    static void StorePcm(int16_t* out, Reg v)
    {
        const __m128i four = PcmInt32(v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(four, four));
    }
};

#include "postfilter/filter_lanes_kernel.inl"

}  // namespace
}  // namespace lanes_avx2

bool FilterLanesAvx2(const LaneStream* streams, int count)
{
    lanes_avx2::FilterAll(streams, count);
    return true;
}

int LaneGroupAvx2() { return lanes_avx2::V::kGroups * lanes_avx2::V::kWidth; }

}  // namespace mervox

#else

namespace mervox {
bool FilterLanesAvx2(const LaneStream*, int) { return false; }
int LaneGroupAvx2() { return 0; }
}  // namespace mervox

#endif
