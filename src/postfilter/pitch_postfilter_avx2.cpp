// The pitch postfilter with AVX2: the lag search four lags a register, two
// searches sharing a loop. Part of the build only where it compiles this
// file with -mavx2 (contraction stays off, so no multiplication is fused
// into an addition); called only on processors that have AVX2.
#include "lanes/avx2.h"
#include "postfilter/lane_kernels.h"
#include "postfilter/pitch_search.h"

namespace mervox {

void PitchPostfilterAvx2(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchPostfilterLanes<Avx2Lanes, 2, false>(pfExcitation, x, openLoopLag);
}

}  // namespace mervox
