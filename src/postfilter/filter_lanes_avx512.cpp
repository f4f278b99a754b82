// The lane kernel with AVX-512: eight streams a register. Compiled with
// -mavx512f where the build supports it (contraction stays off, so no fused
// multiply-add is generated; tests/lanes checks the machine code); called
// only on processors that have it.
#include "postfilter/filter_lanes.h"

#if defined(__AVX512F__)

#include <immintrin.h>

// GCC 12 takes the deliberate self-initialisation in its own
// _mm512_undefined_pd/_ps for a use of an uninitialised value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/formant_constants.h"
#include "tables/tables.h"

namespace mervox {
namespace lanes_avx512 {
namespace {

struct V {
    using Reg = __m512d;
    static constexpr int kWidth = 8;
    static constexpr int kGroups = 2;

    static Reg Widen(const float* p) { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
    static void Narrow(float* p, Reg v) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(v)); }
    static Reg Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, Reg v) { _mm512_storeu_pd(p, v); }
    static Reg Round(Reg v) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(v)); }
    static Reg Set(double d) { return _mm512_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm512_sub_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
    static Reg Div(Reg a, Reg b) { return _mm512_div_pd(a, b); }
    static Reg ZeroWhereZero(Reg e, Reg q)
    {
        return _mm512_mask_mov_pd(q, _mm512_cmp_pd_mask(e, _mm512_setzero_pd(), _CMP_EQ_OQ), _mm512_setzero_pd());
    }

    // ConvertToPcm16's rounding: v + 0.5 (v >= 0) or v - 0.5, saturated,
    // NaN to 0, truncated toward zero to int32.
    static __m256i PcmInt32(Reg v)
    {
        const Reg half =
            _mm512_mask_mov_pd(Set(-0.5), _mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_GE_OQ), Set(0.5));
        const Reg r = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(v, half), Set(-32768.0)), Set(32767.0));
        return _mm512_cvttpd_epi32(_mm512_maskz_mov_pd(_mm512_cmp_pd_mask(v, v, _CMP_ORD_Q), r));
    }
    static void StorePcm(int16_t* out, Reg v)
    {
        const __m256i eight = PcmInt32(v);
        const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(eight), _mm256_extracti128_si256(eight, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
    }
};

#include "postfilter/filter_lanes_kernel.inl"

}  // namespace
}  // namespace lanes_avx512

bool FilterLanesAvx512(const LaneStream* streams, int count)
{
    lanes_avx512::FilterAll(streams, count);
    return true;
}

int LaneGroupAvx512() { return lanes_avx512::V::kGroups * lanes_avx512::V::kWidth; }

}  // namespace mervox

#else

namespace mervox {
bool FilterLanesAvx512(const LaneStream*, int) { return false; }
int LaneGroupAvx512() { return 0; }
}  // namespace mervox

#endif
