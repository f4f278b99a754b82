// The pitch postfilter's lag search in steps (ComputePitchPostfilter is
// Start, AddSample(0) .. AddSample(59), Finish), so that its sums can run
// in the loop of other work: the filters of an earlier subframe, which
// leave the processor waiting on their chains.
//
// The search keeps fifteen sums over the subframe's samples: the
// correlations with the seven backward and the seven forward candidate
// lags and the subframe's energy. Each is accumulated over n in order, as
// a correlation computed alone would be, but the sums of neighbouring lags
// sit side by side in the lanes of a vector register (lag by lag in lane
// order), so that one multiplication and one addition serve several lags
// with every product and every partial sum unchanged. The lane type V
// (pitch_lanes.h; the wider ones in pitch_postfilter_<isa>.cpp) sets how
// many: one, two, four or eight.
//
// Everything here is a template on V, so that the files compiled for wider
// instruction sets instantiate their own copies (with lane types of their
// own, private to the file) and share no inline code with the portable
// build.
#pragma once

#include <cstdint>

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/pitch_lanes.h"
#include "postfilter/postfilter.h"

namespace mervox {

// Sample n of a subframe's postfiltered excitation: x[n] * scale +
// x[n + lag] * gain, the scaled term first, rounded to single precision.
inline float PitchPostfilteredSample(const float* x, const PitchPostfilterParams& p, int n)
{
    return static_cast<float>(static_cast<double>(x[n]) * p.scale + static_cast<double>(x[n + p.lag]) * p.gain);
}

// A frame's excitation in double precision (exactly), as the searches read
// it: the history back to the longest lag, the frame, then zeros. The
// zeros stand for what lies past the frame's end, which only candidates
// that are not allowed (forward lags that would leave the frame) and the
// unused last lane of a register reach.
struct PitchExcitation {
    static constexpr int kBefore = kLongestLag;
    static constexpr int kAfter = 8;  // at least the widest register's lanes, less one
    double samples[kBefore + kFrameLength + kAfter];
};

// Fills e from x, which points at subframe `subframe`'s first sample: the
// samples the searches of that subframe and the later ones read (x[-145]
// up to the frame's last sample), and the zeros after the frame.
template <class V>
void LoadPitchExcitation(PitchExcitation& e, const float* x, int subframe)
{
    const int from = kSubframeLength * subframe - kLongestLag;  // frame position of x[-145]
    const int count = kFrameLength - from;
    double* to = e.samples + PitchExcitation::kBefore + from;
    const float* src = x - kLongestLag;
    int i = 0;
    for (; i + V::kWidth <= count; i += V::kWidth)
        V::Store(to + i, V::Widen(src + i));
    for (; i < count; ++i)
        to[i] = src[i];
    for (int k = 0; k < PitchExcitation::kAfter; ++k)
        e.samples[PitchExcitation::kBefore + kFrameLength + k] = 0.0;
}

template <class V>
class PitchSearchLanes {
public:
    // Subframe `subframe` of the frame in e, its half frame's open-loop lag.
    void Start(const PitchExcitation& e, int openLoopLag, int subframe)
    {
        const int centre = openLoopLag > kMaxCentreLag ? kMaxCentreLag : openLoopLag;
        first_ = centre - kSearchHalfWidth;
        last_ = centre + kSearchHalfWidth;
        // A forward lag must keep the lagged segment inside the current frame.
        lastForward_ = kFrameLength - kSubframeLength * (subframe + 1);
        withForward_ = first_ <= lastForward_;
        cur_ = e.samples + PitchExcitation::kBefore + kSubframeLength * subframe;
        for (int r = 0; r < kRegs; ++r)
            back_[r] = fwd_[r] = V::Set(0.0);
        energy_ = 0.0;
    }

    // Adds sample n of the subframe to every sum: lane k of the backward
    // registers gains x[n] * x[n + k - last] (lag last - k), lane k of the
    // forward ones x[n] * x[n + first + k] (lag first + k); lanes past the
    // seventh are not used. Without forward candidates those are left out.
    void AddSample(int n)
    {
        const double xn = cur_[n];
        energy_ += xn * xn;
        const typename V::Reg xv = V::Set(xn);
        const double* back = cur_ + n - last_;
        MERVOX_UNROLL(8)
        for (int r = 0; r < kRegs; ++r)
            back_[r] = V::Add(back_[r], V::Mul(xv, V::Load(back + V::kWidth * r)));
        if (withForward_) {
            const double* fwd = cur_ + n + first_;
            MERVOX_UNROLL(8)
            for (int r = 0; r < kRegs; ++r)
                fwd_[r] = V::Add(fwd_[r], V::Mul(xv, V::Load(fwd + V::kWidth * r)));
        }
    }

    // The lag choice and its gains, after all 60 samples.
    PitchPostfilterParams Finish() const
    {
        double back[kLanes], fwd[kLanes];
        for (int r = 0; r < kRegs; ++r) {
            V::Store(back + V::kWidth * r, back_[r]);
            V::Store(fwd + V::kWidth * r, fwd_[r]);
        }
        const int first = first_, last = last_;
        const Candidate backward = BestLag(first, last, [&](int j) { return back[last - j]; });
        const Candidate forward =
            withForward_ ? BestLag(first, last < lastForward_ ? last : lastForward_, [&](int j) { return fwd[j - first]; })
                         : Candidate{};
        const float e0 = static_cast<float>(energy_);
        if (backward.lag == 0 && forward.lag == 0)
            return {0, 0.0f, 1.0f};

        // Energies of the chosen lagged segments, side by side (a missing
        // lag's sum runs over the subframe itself and is not used).
        const double* lb = cur_ - backward.lag;
        const double* lf = cur_ + forward.lag;
        double sb = 0.0, sf = 0.0;
        for (int n = 0; n < kSubframeLength; ++n) {
            sb += lb[n] * lb[n];
            sf += lf[n] * lf[n];
        }
        const float eb = backward.lag ? static_cast<float>(sb) : 0.0f;
        const float ef = forward.lag ? static_cast<float>(sf) : 0.0f;

        if (forward.lag == 0)
            return ComputePitchGains(-backward.lag, e0, backward.correlation, eb);
        if (backward.lag == 0)
            return ComputePitchGains(forward.lag, e0, forward.correlation, ef);

        const double rf = forward.correlation, rb = backward.correlation;
        if (rf * rf * eb >= rb * rb * ef)
            return ComputePitchGains(forward.lag, e0, forward.correlation, ef);
        return ComputePitchGains(-backward.lag, e0, backward.correlation, eb);
    }

private:
    static constexpr int kRegs = (kSearchLags + V::kWidth - 1) / V::kWidth;  // per direction
    static constexpr int kLanes = kRegs * V::kWidth;
    static_assert(kLanes - 1 <= PitchExcitation::kAfter, "the last lane reads past the zeros");

    struct Candidate {
        int lag = 0;
        float correlation = 0.0f;
    };

    // Best positively correlated lag of first..last, where r(j) is the
    // correlation at lag j; ties keep the smaller lag.
    template <class Correlation>
    static Candidate BestLag(int first, int last, Correlation r)
    {
        Candidate best;
        for (int j = first; j <= last; ++j) {
            const double c = r(j);
            if (c > best.correlation) {
                best.correlation = static_cast<float>(c);
                best.lag = j;
            }
        }
        return best;
    }

    int first_ = 0, last_ = 0, lastForward_ = 0;
    bool withForward_ = false;
    const double* cur_ = nullptr;  // the subframe's first sample
    typename V::Reg back_[kRegs];
    typename V::Reg fwd_[kRegs];
    double energy_ = 0.0;
};

// Applies p to the subframe x[0..59] (in double), writing out[0..59]: each
// sample as PitchPostfilteredSample computes it, kWidth at a time.
template <class V>
void ApplyPitchPostfilterLanes(float out[kSubframeLength], const double* x, const PitchPostfilterParams& p)
{
    const typename V::Reg scale = V::Set(p.scale), gain = V::Set(p.gain);
    const double* lagged = x + p.lag;
    int n = 0;
    for (; n + V::kWidth <= kSubframeLength; n += V::kWidth)
        V::Narrow(out + n, V::Add(V::Mul(V::Load(x + n), scale), V::Mul(V::Load(lagged + n), gain)));
    for (; n < kSubframeLength; ++n)
        out[n] = static_cast<float>(x[n] * p.scale + lagged[n] * p.gain);
}

// PitchPostfilter with lane type V.
template <class V>
void PitchPostfilterLanes(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchExcitation e;
    LoadPitchExcitation<V>(e, x, 0);
    for (int s = 0; s < kSubframes; ++s) {
        PitchSearchLanes<V> search;
        search.Start(e, openLoopLag[s / 2], s);
        for (int n = 0; n < kSubframeLength; ++n)
            search.AddSample(n);
        ApplyPitchPostfilterLanes<V>(pfExcitation + kSubframeLength * s,
                                     e.samples + PitchExcitation::kBefore + kSubframeLength * s, search.Finish());
    }
}

// The search of the single-stream path: two lanes, the portable baseline.
using PitchSearch = PitchSearchLanes<PitchLanes2>;

// The wider variants' entry points (pitch_postfilter_<isa>.cpp): false,
// doing nothing, where the variant is not part of this build.
bool PitchPostfilterAvx2(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);
bool PitchPostfilterAvx512(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames]);

}  // namespace mervox
