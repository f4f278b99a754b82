// The pitch postfilter with AVX2: the lag search four lags a register.
// Compiled with -mavx2 (never with fused multiply-add) where the build
// supports it; called only on processors that have it.
#include "postfilter/pitch_search.h"

#if defined(__AVX2__) && !defined(__FMA__)

#include <immintrin.h>

namespace mervox {
namespace {

struct PitchLanesAvx2 {
    using Reg = __m256d;
    static constexpr int kWidth = 4;
    static constexpr int kSearchesTogether = 2;
    static constexpr bool kByDirection = false;

    static Reg Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, Reg r) { _mm256_storeu_pd(p, r); }
    static Reg Set(double d) { return _mm256_set1_pd(d); }
    static Reg Add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    static Reg Mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    static Reg Widen(const float* f) { return _mm256_cvtps_pd(_mm_loadu_ps(f)); }
    static void Narrow(float* f, Reg r) { _mm_storeu_ps(f, _mm256_cvtpd_ps(r)); }
};

}  // namespace

bool PitchPostfilterAvx2(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchPostfilterLanes<PitchLanesAvx2>(pfExcitation, x, openLoopLag);
    return true;
}

}  // namespace mervox

#else

namespace mervox {
bool PitchPostfilterAvx2(float*, const float*, const int32_t*) { return false; }
}  // namespace mervox

#endif
