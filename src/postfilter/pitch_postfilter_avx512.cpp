// The pitch postfilter with AVX-512: the lag search eight lags a register,
// all seven candidates of a direction at once, four searches sharing a
// loop. Part of the build only where it compiles this file with -mavx512f
// (contraction stays off, so no fused multiply-add is generated;
// tests/lanes checks the machine code); called only on processors that
// have AVX-512.
#include "lanes/avx512.h"
#include "postfilter/lane_kernels.h"
#include "postfilter/pitch_search.h"

namespace mervox {

void PitchPostfilterAvx512(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchPostfilterLanes<Avx512Lanes, 4, false>(pfExcitation, x, openLoopLag);
}

}  // namespace mervox
