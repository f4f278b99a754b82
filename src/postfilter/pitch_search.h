// The pitch postfilter's lag search in steps (ComputePitchPostfilter is
// Start, AddSample(0) .. AddSample(59), Finish), so that its sums can run
// in the loop of other work: the filters of an earlier subframe, which
// leave the processor waiting on their chains.
#pragma once

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/postfilter.h"

namespace mervox {

// Sample n of a subframe's postfiltered excitation: x[n] * scale +
// x[n + lag] * gain, the scaled term first, rounded to single precision.
inline float PitchPostfilteredSample(const float* x, const PitchPostfilterParams& p, int n)
{
    return static_cast<float>(static_cast<double>(x[n]) * p.scale + static_cast<double>(x[n + p.lag]) * p.gain);
}

class PitchSearch {
public:
    static constexpr int kSegment = kSubframeLength + kSearchLags - 1;  // samples the candidates reach together

    // The subframe x[0..59] (x[-145] .. the frame's last sample readable),
    // its half frame's open-loop lag and its index.
    void Start(const float* x, int openLoopLag, int subframe);

    // Adds sample n of the subframe to every sum: the correlations with the
    // segments of the seven backward and the seven forward candidate lags,
    // back[k] = x[0]*seg[k] + x[1]*seg[1 + k] + ... (seg the backward or the
    // forward segment), and the energy x[0]^2 + ... Called for n = 0..59 in
    // order, each sum is accumulated over n in order, as a correlation
    // computed alone would be. Without forward candidates fwd is unused.
    void AddSample(int n)
    {
        const double xn = cur_[n];
        energy_ += xn * xn;
        // Unrolled, so that the sums can stay in registers.
        MERVOX_UNROLL(7)
        for (int k = 0; k < kSearchLags; ++k)
            back_[k] += xn * backSeg_[n + k];
        if (withForward_) {
            MERVOX_UNROLL(7)
            for (int k = 0; k < kSearchLags; ++k)
                fwd_[k] += xn * fwdSeg_[n + k];
        }
    }

    // The lag choice and its gains, after all 60 samples.
    PitchPostfilterParams Finish() const;

private:
    int first_ = 0, last_ = 0, lastForward_ = 0;
    bool withForward_ = false;
    // The samples in double (exactly): the subframe, the segment that the
    // backward lags pair with it (backSeg[m] = x[m - last], so lag j pairs
    // x[n] with backSeg[n + last - j]) and the one the forward lags pair
    // with it (fwdSeg[m] = x[m + first], lag j pairs x[n] with
    // fwdSeg[n + j - first]; only up to the frame's end, which no allowed
    // forward lag passes).
    double cur_[kSubframeLength];
    double backSeg_[kSegment];
    double fwdSeg_[kSegment];
    double back_[kSearchLags];
    double fwd_[kSearchLags];
    double energy_ = 0.0;
};

}  // namespace mervox
