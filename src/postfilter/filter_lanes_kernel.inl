// The lane kernel, written once for every instruction set: included by
// filter_lanes_<isa>.cpp inside an anonymous namespace of its own (so that
// no code compiled for one instruction set is shared with another), after
// the headers it uses (codec_facts.h, loop_hints.h, tables.h,
// formant_constants.h, pcm16_round.h, filter_lanes.h) and after that file
// has defined
//
//   V            the instruction set's register traits (lanes/scalar.h)
//   kMaxGroups   the registers of lanes it filters side by side at most
//
// Every step below is the single-stream step of filter_steps.h (and of the
// tilt update and output conversion) applied to a register of lanes: the
// same products, added in the same order, rounded at the same points. The
// file is only ever compiled with contraction off, so no multiplication is
// fused into an addition. The output is rounded by RoundToPcm16
// (pcm16_round.h), as the single-stream conversion's.

// The streams of one call, lane by lane: sample i of lane l at [i][l].
template <int kLanes>
struct LaneFrames {
    alignas(64) float excitation[kFrameLength][kLanes];
    // Synthesized and postfiltered samples, [0..9] the history: doubles
    // (exact copies of floats), so that reading them back costs no
    // conversion.
    alignas(64) double x[kFilterMemoryLength][kLanes];
    alignas(64) double y[kFilterMemoryLength][kLanes];
    alignas(64) int16_t pcm[kFrameLength][kLanes];
    alignas(64) float lpc[kLpcSetsLength][kLanes];  // set s, coefficient k at [10 s + k]
    alignas(64) float tilt[kLanes];
};

template <int kGroups>
class LaneFilter {
public:
    static constexpr int kLanes = kGroups * V::kWidth;
    using Reg = typename V::Reg;

    explicit LaneFilter(LaneFrames<kLanes>& f) : f_(f) {}

    void Run()
    {
        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g) {
            tilt_[g] = V::Widen(f_.tilt + Lane(g));
            lastX_[g] = V::Load(f_.x[kLpcOrder - 1] + Lane(g));
            lastY_[g] = V::Load(f_.y[kLpcOrder - 1] + Lane(g));
        }

        // As in SynthesizeAndPostfilter: pass s synthesizes subframe s and
        // postfilters subframe s - 1.
        StartSynthesis(0);
        for (int n = 0; n < kSubframeLength; ++n)
            SynthesisStep(n, n);
        for (int s = 1; s < kSubframes; ++s) {
            PrepareFormant(s - 1);
            StartSynthesis(s);
            const int cur = kSubframeLength * s;
            const int prev = cur - kSubframeLength;
            for (int n = 0; n < kSubframeLength; ++n) {
                SynthesisStep(cur + n, n);
                FormantStep(prev + n);
            }
        }
        PrepareFormant(kSubframes - 1);
        const int last = kFrameLength - kSubframeLength;
        for (int n = 0; n < kSubframeLength; ++n)
            FormantStep(last + n);

        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g)
            V::Narrow(f_.tilt + Lane(g), tilt_[g]);
    }

private:
    static constexpr int Lane(int g) { return g * V::kWidth; }

    void StartSynthesis(int s)
    {
        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g) {
            MERVOX_UNROLL(10)
            for (int k = 0; k < kLpcOrder; ++k)
                a_[g][k] = V::Widen(f_.lpc[kLpcOrder * s + k] + Lane(g));
            energy_[g] = V::Set(0.0);
            correlation_[g] = V::Set(0.0);
        }
    }

    // Sample i of the frame, sample n of its subframe. Only the most recent
    // output is kept in a register: it is the one on the chain from sample
    // to sample. The older ones are read back from where they were stored a
    // sample or more ago, which costs loads but keeps the registers free.
    void SynthesisStep(int i, int n)
    {
        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g) {
            const double* y = f_.x[kLpcOrder + i] + Lane(g);  // y - k * kLanes: k samples back
            Reg sum = V::Mul(a_[g][0], lastX_[g]);
            MERVOX_UNROLL(10)
            for (int k = 1; k < kLpcOrder; ++k)
                sum = V::Add(sum, V::Mul(a_[g][k], V::Load(y - (k + 1) * kLanes)));
            const Reg out = V::Round(V::Add(sum, V::Widen(f_.excitation[i] + Lane(g))));
            V::Store(f_.x[kLpcOrder + i] + Lane(g), out);
            energy_[g] = V::Add(energy_[g], V::Mul(out, out));
            if (n > 0)
                correlation_[g] = V::Add(correlation_[g], V::Mul(lastX_[g], out));
            lastX_[g] = out;
        }
    }

    // Weights of subframe s and the tilt update from its sums.
    void PrepareFormant(int s)
    {
        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g) {
            MERVOX_UNROLL(6)
            for (int k = 0; k < kFormantOrder; ++k)
                w_[g][k] = V::Round(V::Mul(V::Set(FormantWeightTable[k + 1]), V::Widen(f_.lpc[kLpcOrder * s + k] + Lane(g))));
            const Reg e = V::Round(energy_[g]);
            const Reg ratio = V::ZeroWhereZero(e, V::Round(V::Div(correlation_[g], e)));
            tilt_[g] = V::Round(V::Add(tilt_[g], V::Mul(V::Set(kTiltSmoothing), V::Sub(ratio, tilt_[g]))));
            t_[g] = V::Round(V::Mul(V::Set(kTiltStrength), tilt_[g]));
        }
    }

    void FormantStep(int i)
    {
        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g) {
            const double* y = f_.y[kLpcOrder + i] + Lane(g);
            Reg sum = V::Mul(w_[g][0], lastY_[g]);
            MERVOX_UNROLL(6)
            for (int k = 1; k < kFormantOrder; ++k)
                sum = V::Add(sum, V::Mul(w_[g][k], V::Load(y - (k + 1) * kLanes)));
            const Reg in = V::Load(f_.x[kLpcOrder + i] + Lane(g));
            const Reg before = V::Load(f_.x[kLpcOrder + i - 1] + Lane(g));
            const Reg tilted = V::Mul(V::Set(kFormantInputGain), V::Sub(in, V::Mul(t_[g], before)));
            const Reg out = V::Round(V::Add(sum, tilted));
            V::Store(f_.y[kLpcOrder + i] + Lane(g), out);
            StorePcm16<V>(f_.pcm[i] + Lane(g), out);
            lastY_[g] = out;
        }
    }

    LaneFrames<kLanes>& f_;
    Reg lastX_[kGroups];  // the most recent synthesized and postfiltered samples
    Reg lastY_[kGroups];
    Reg a_[kGroups][kLpcOrder];
    Reg w_[kGroups][kFormantOrder];
    Reg t_[kGroups];
    Reg tilt_[kGroups];
    Reg energy_[kGroups];
    Reg correlation_[kGroups];
};

// Moving whole frames into and out of lane layout four lanes at a time, in
// 128-bit SSE2 registers (every processor that runs a lane kernel has
// them): plain copies, so they change no value.
constexpr float kSilentFrame[kFrameLength] = {};  // the input of an unused lane

// dst[i][l] = src[l][i] for i < n (a multiple of 4) and every lane.
template <int kLanes>
void ToLanes(float (*dst)[kLanes], const float* const src[kLanes], int n)
{
    constexpr int kWhole = kLanes / 4 * 4;  // lanes in blocks of four
    for (int l0 = 0; l0 < kWhole; l0 += 4) {
        const float* const s0 = src[l0];
        const float* const s1 = src[l0 + 1];
        const float* const s2 = src[l0 + 2];
        const float* const s3 = src[l0 + 3];
        for (int i = 0; i < n; i += 4) {
            __m128 r0 = _mm_loadu_ps(s0 + i);
            __m128 r1 = _mm_loadu_ps(s1 + i);
            __m128 r2 = _mm_loadu_ps(s2 + i);
            __m128 r3 = _mm_loadu_ps(s3 + i);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_storeu_ps(dst[i] + l0, r0);
            _mm_storeu_ps(dst[i + 1] + l0, r1);
            _mm_storeu_ps(dst[i + 2] + l0, r2);
            _mm_storeu_ps(dst[i + 3] + l0, r3);
        }
    }
    if constexpr (kWhole < kLanes) {  // two lanes left over (SSE2's odd groups)
        for (int l = kWhole; l < kLanes; ++l)
            for (int i = 0; i < n; ++i)
                dst[i][l] = src[l][i];
    }
}

// out[l][i] = pcm[i][l] for the first `count` lanes.
template <int kLanes>
void FromLanes(int16_t* const out[], const int16_t (*pcm)[kLanes], int count)
{
    constexpr int kWhole = kLanes / 4 * 4;
    int l0 = 0;
    for (; l0 < kWhole && l0 < count; l0 += 4) {
        const int used = count - l0;
        for (int i = 0; i < kFrameLength; i += 8) {
            __m128i r[8];
            MERVOX_UNROLL(8)
            for (int j = 0; j < 8; ++j)
                r[j] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pcm[i + j] + l0));
            // Samples i..i+7 of lanes l0..l0+3, pair by pair, then four by four.
            const __m128i a = _mm_unpacklo_epi16(r[0], r[1]);
            const __m128i b = _mm_unpacklo_epi16(r[2], r[3]);
            const __m128i c = _mm_unpacklo_epi16(r[4], r[5]);
            const __m128i d = _mm_unpacklo_epi16(r[6], r[7]);
            const __m128i ab01 = _mm_unpacklo_epi32(a, b);
            const __m128i ab23 = _mm_unpackhi_epi32(a, b);
            const __m128i cd01 = _mm_unpacklo_epi32(c, d);
            const __m128i cd23 = _mm_unpackhi_epi32(c, d);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[l0] + i), _mm_unpacklo_epi64(ab01, cd01));
            if (used > 1)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out[l0 + 1] + i), _mm_unpackhi_epi64(ab01, cd01));
            if (used > 2)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out[l0 + 2] + i), _mm_unpacklo_epi64(ab23, cd23));
            if (used > 3)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out[l0 + 3] + i), _mm_unpackhi_epi64(ab23, cd23));
        }
    }
    for (; l0 < count; ++l0)
        for (int i = 0; i < kFrameLength; ++i)
            out[l0][i] = pcm[i][l0];
}

// Up to kGroups * kWidth streams through one LaneFilter; unused lanes
// filter silence and are thrown away.
template <int kGroups>
void FilterGroup(const LaneStream* streams, int count)
{
    constexpr int kLanes = LaneFilter<kGroups>::kLanes;
    LaneFrames<kLanes> f;
    const float* excitation[kLanes];
    const float* lpc[kLanes];
    int16_t* pcm[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        const bool used = l < count;
        excitation[l] = used ? streams[l].excitation : kSilentFrame;
        lpc[l] = used ? streams[l].lpc : kSilentFrame;
        pcm[l] = used ? streams[l].pcm : nullptr;
        for (int i = 0; i < kLpcOrder; ++i) {
            f.x[i][l] = used ? streams[l].synthesis[i] : 0.0;
            f.y[i][l] = used ? streams[l].postfiltered[i] : 0.0;
        }
        f.tilt[l] = used ? *streams[l].tilt : 0.0f;
    }
    ToLanes<kLanes>(f.excitation, excitation, kFrameLength);
    ToLanes<kLanes>(f.lpc, lpc, kLpcSetsLength);

    LaneFilter<kGroups>(f).Run();

    // The frame's filtered samples stay here: a stream keeps only the last
    // ten of each filter (its history for the next frame), and the output.
    for (int l = 0; l < count; ++l) {
        const LaneStream& s = streams[l];
        for (int i = kFrameLength; i < kFilterMemoryLength; ++i) {
            s.synthesis[i] = static_cast<float>(f.x[i][l]);  // exact
            s.postfiltered[i] = static_cast<float>(f.y[i][l]);
        }
        *s.tilt = f.tilt[l];
    }
    FromLanes<kLanes>(pcm, f.pcm, count);
}

// The fewest registers that hold `count` streams (at most kGroups): the
// filters' chains bound a pass, so registers of unused lanes would add
// arithmetic without hiding any latency.
template <int kGroups>
void FilterFewest(const LaneStream* streams, int count)
{
    if constexpr (kGroups > 1) {
        if (count <= (kGroups - 1) * V::kWidth) {
            FilterFewest<kGroups - 1>(streams, count);
            return;
        }
    }
    FilterGroup<kGroups>(streams, count);
}

// All streams, kMaxGroups registers at a time.
void FilterAll(const LaneStream* streams, int count)
{
    constexpr int kLanes = kMaxGroups * V::kWidth;
    while (count > 0) {
        const int n = count < kLanes ? count : kLanes;
        FilterFewest<kMaxGroups>(streams, n);
        streams += n;
        count -= n;
    }
}
