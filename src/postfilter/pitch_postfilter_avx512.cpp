// The pitch postfilter with AVX-512: the lag search eight lags a register,
// all seven candidates of a direction at once. Compiled with -mavx512f
// where the build supports it (contraction stays off, so no fused
// multiply-add is generated; tests/lanes checks the machine code); called
// only on processors that have it.
#include "postfilter/pitch_search.h"

#if defined(__AVX512F__)

#include <immintrin.h>

// GCC 12 takes the deliberate self-initialisation in its own
// _mm512_undefined_pd/_ps for a use of an uninitialised value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace mervox {
namespace {

struct PitchLanesAvx512 {
    using Reg = __m512d;
    static constexpr int kWidth = 8;
    static constexpr int kSearchesTogether = 4;
    static constexpr bool kByDirection = false;

    static Reg Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, Reg r) { _mm512_storeu_pd(p, r); }
    static Reg Set(double d) { return _mm512_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
    static Reg Widen(const float* f) { return _mm512_cvtps_pd(_mm256_loadu_ps(f)); }
    static void Narrow(float* f, Reg r) { _mm256_storeu_ps(f, _mm512_cvtpd_ps(r)); }
};

}  // namespace

bool PitchPostfilterAvx512(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchPostfilterLanes<PitchLanesAvx512>(pfExcitation, x, openLoopLag);
    return true;
}

}  // namespace mervox

#else

namespace mervox {
bool PitchPostfilterAvx512(float*, const float*, const int32_t*) { return false; }
}  // namespace mervox

#endif
