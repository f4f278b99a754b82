// The pitch postfilter's lag search in steps (ComputePitchPostfilter is
// Start, AddSample(0) .. AddSample(59), Finish), so that the searches of
// several subframes can share a loop.
//
// The search keeps fourteen sums over the subframe's samples: the
// correlations with the seven backward and the seven forward candidate
// lags. Each is accumulated over n in order, as a correlation computed
// alone would be, but the sums of neighbouring lags sit side by side in the
// lanes of a vector register (lag by lag in lane order), so that one
// multiplication and one addition serve several lags with every product
// and every partial sum unchanged. The register traits V (lanes/scalar.h)
// set how many: one, two, four or eight. The energies the gains need (of the subframe and of the two
// chosen lagged segments) are summed at the end, in the same order, side
// by side for all the searches that end together (FinishPitchSearches).
//
// Everything here is a template on V, so that the files compiled for wider
// instruction sets instantiate their own copies (with register traits that
// only they include) and share no inline code with the portable build; for
// the same reason this header includes no traits.
#pragma once

#include <cstdint>

#include "codec_facts.h"
#include "loop_hints.h"
#include "postfilter/postfilter.h"

namespace mervox {

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

// What a search leaves for the lag choice: the best positively correlated
// lag of each direction (0: none) and its correlation, and where the
// subframe and the two lagged segments start, whose energies the gains
// need (for a missing lag, the subframe itself).
struct PitchChoice {
    int backwardLag, forwardLag;
    float backwardCorrelation, forwardCorrelation;
    const double* subframe;
    const double* backwardSegment;
    const double* forwardSegment;
};

// The choice from a search's sums (pitch_postfilter.cpp): back[k] is the
// correlation at lag last - k, fwd[k] that at lag first + k (forward lags
// up to lastForward count; none if it is below first).
PitchChoice ChoosePitchLags(const double* back, const double* fwd, int first, int last, int lastForward,
                            const double* cur);

// The lag and gains from the choice and the energies (sums of squares, in
// order) of the subframe and of the two lagged segments
// (pitch_postfilter.cpp).
PitchPostfilterParams DecidePitchPostfilter(const PitchChoice& c, double energy, double backwardEnergy,
                                            double forwardEnergy);

template <int kCount, class Search>
void FinishPitchSearches(const Search* searches, PitchPostfilterParams* p);

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
        backSeg_ = cur_ - last_;
        // Without forward candidates the forward sums run over the backward
        // segment and are not used: a branch in AddSample would keep them in
        // memory instead of registers.
        fwdSeg_ = withForward_ ? cur_ + first_ : backSeg_;
        for (int r = 0; r < kRegs; ++r)
            back_[r] = fwd_[r] = V::Set(0.0);
    }

    // Adds sample n of the subframe to every sum: lane k of the backward
    // registers gains x[n] * x[n + k - last] (lag last - k), lane k of the
    // forward ones x[n] * x[n + first + k] (lag first + k); lanes past the
    // seventh are not used.
    void AddSample(int n)
    {
        AddBackwardSample(n);
        AddForwardSample(n);
    }

    // The two halves of AddSample. The last subframe has no forward
    // candidates (a forward lag would leave the frame) and needs only the
    // first.
    void AddBackwardSample(int n)
    {
        const typename V::Reg xv = V::Set(cur_[n]);
        MERVOX_UNROLL(8)
        for (int r = 0; r < kRegs; ++r)
            back_[r] = V::Add(back_[r], V::Mul(xv, V::Load(backSeg_ + n + V::kWidth * r)));
    }
    void AddForwardSample(int n)
    {
        const typename V::Reg xv = V::Set(cur_[n]);
        MERVOX_UNROLL(8)
        for (int r = 0; r < kRegs; ++r)
            fwd_[r] = V::Add(fwd_[r], V::Mul(xv, V::Load(fwdSeg_ + n + V::kWidth * r)));
    }

    // Whether the subframe has forward candidates: without, the forward
    // sums are not used.
    bool HasForward() const { return withForward_; }

    // After all 60 samples: the best lag of each direction.
    PitchChoice Choose() const
    {
        double back[kLanes], fwd[kLanes];
        for (int r = 0; r < kRegs; ++r) {
            V::Store(back + V::kWidth * r, back_[r]);
            V::Store(fwd + V::kWidth * r, fwd_[r]);
        }
        return ChoosePitchLags(back, fwd, first_, last_, withForward_ ? lastForward_ : first_ - 1, cur_);
    }

    // The lag choice and its gains, after all 60 samples.
    PitchPostfilterParams Finish() const
    {
        PitchPostfilterParams p;
        FinishPitchSearches<1>(this, &p);
        return p;
    }

private:
    static constexpr int kRegs = (kSearchLags + V::kWidth - 1) / V::kWidth;  // per direction
    static constexpr int kLanes = kRegs * V::kWidth;
    static_assert(kLanes - 1 <= PitchExcitation::kAfter, "the last lane reads past the zeros");

    int first_ = 0, last_ = 0, lastForward_ = 0;
    bool withForward_ = false;
    const double* cur_ = nullptr;      // the subframe's first sample
    const double* backSeg_ = nullptr;  // x[-last]: lane k of sample n pairs with backSeg_[n + k]
    const double* fwdSeg_ = nullptr;   // x[first], likewise
    typename V::Reg back_[kRegs];
    typename V::Reg fwd_[kRegs];
};

// Ends kCount (1..4) searches: their lag choices, the energies of the
// subframes and of the chosen lagged segments (3 * kCount independent
// sums, side by side in one loop, each over n in order), and the gains,
// into p[0..kCount-1].
template <int kCount, class Search>
void FinishPitchSearches(const Search* searches, PitchPostfilterParams* p)
{
    constexpr int kSums = 3 * kCount;
    PitchChoice c[kCount];
    const double* seg[kSums];
    for (int i = 0; i < kCount; ++i) {
        c[i] = searches[i].Choose();
        seg[3 * i] = c[i].subframe;
        seg[3 * i + 1] = c[i].backwardSegment;
        seg[3 * i + 2] = c[i].forwardSegment;
    }
    double sums[kSums] = {};
    for (int n = 0; n < kSubframeLength; ++n) {
        MERVOX_UNROLL(12)
        for (int i = 0; i < kSums; ++i)
            sums[i] += seg[i][n] * seg[i][n];
    }
    for (int i = 0; i < kCount; ++i)
        p[i] = DecidePitchPostfilter(c[i], sums[3 * i], sums[3 * i + 1], sums[3 * i + 2]);
}

// Applies p to the subframe x[0..59] (in double), writing out[0..59]: each
// sample x[n] * scale + x[n + lag] * gain, the scaled term first, rounded
// to single precision, kWidth at a time.
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

// PitchPostfilter with register traits V, kTogether searches sharing a loop
// or, with kByDirection, the backward sums of two searches in one loop and
// their forward sums in another (so that the sums of two searches fit
// sixteen registers where the registers hold two lags each).
template <class V, int kTogether, bool kByDirection>
void PitchPostfilterLanes(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    PitchExcitation e;
    LoadPitchExcitation<V>(e, x, 0);
    PitchSearchLanes<V> search[kSubframes];
    for (int s = 0; s < kSubframes; ++s)
        search[s].Start(e, openLoopLag[s / 2], s);
    // Each sum is a chain of 60 dependent additions, so several searches
    // share a loop: the processor works on the others while each addition
    // waits for the previous one of its chain.
    if constexpr (kByDirection) {
        // Two searches, one direction, a pass (so that the sums fit the
        // registers); subframe 3 has no forward candidates.
        for (int s = 0; s < kSubframes; s += 2)
            for (int n = 0; n < kSubframeLength; ++n) {
                search[s].AddBackwardSample(n);
                search[s + 1].AddBackwardSample(n);
            }
        for (int n = 0; n < kSubframeLength; ++n) {
            search[0].AddForwardSample(n);
            search[1].AddForwardSample(n);
        }
        if (search[2].HasForward())
            for (int n = 0; n < kSubframeLength; ++n)
                search[2].AddForwardSample(n);
    } else {
        static_assert(kSubframes % kTogether == 0, "searches in equal groups");
        for (int s0 = 0; s0 < kSubframes; s0 += kTogether)
            for (int n = 0; n < kSubframeLength; ++n) {
                MERVOX_UNROLL(4)
                for (int t = 0; t < kTogether; ++t)
                    search[s0 + t].AddSample(n);
            }
    }
    PitchPostfilterParams p[kSubframes];
    FinishPitchSearches<kSubframes>(search, p);
    for (int s = 0; s < kSubframes; ++s)
        ApplyPitchPostfilterLanes<V>(pfExcitation + kSubframeLength * s,
                                     e.samples + PitchExcitation::kBefore + kSubframeLength * s, p[s]);
}

}  // namespace mervox
