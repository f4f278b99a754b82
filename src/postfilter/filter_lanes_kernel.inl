// The lane kernel, written once for every instruction set: included by
// filter_lanes_<isa>.cpp inside a namespace of its own, after that file has
// defined the register type V:
//
//   V::Reg                   kWidth doubles
//   V::kWidth, V::kGroups    lanes a register, registers filtered side by side
//   Widen(const float*)      kWidth floats to doubles (exact)
//   Narrow(float*, Reg)      kWidth doubles to floats (rounded to nearest)
//   Load, Store              kWidth doubles from and to memory
//   Round(Reg)               to single precision and back, as a float store
//   Set, Add, Sub, Mul, Div  broadcast and lane-wise IEEE arithmetic
//   ZeroWhereZero(e, q)      q, with 0 in the lanes where e is 0
//   StorePcm(int16_t*, Reg)  ConvertToPcm16 of the kWidth lanes, stored
//                            as kWidth 16-bit samples
//
// Every step below is the single-stream step of filter_steps.h (and of the
// tilt update and output conversion) applied to a register of lanes: the
// same products, added in the same order, rounded at the same points. The
// file is only ever compiled with contraction off, so no multiplication is
// fused into an addition.

constexpr int kPostfilterHistory = 6;  // formant taps (postfiltered samples read back)

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
    alignas(64) float lpc[kSubframes][kLpcOrder][kLanes];
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
                a_[g][k] = V::Widen(f_.lpc[s][k] + Lane(g));
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
            for (int k = 0; k < kPostfilterHistory; ++k)
                w_[g][k] = V::Round(V::Mul(V::Set(FormantWeightTable[k + 1]), V::Widen(f_.lpc[s][k] + Lane(g))));
            const Reg e = V::Round(energy_[g]);
            const Reg ratio = V::ZeroWhereZero(e, V::Round(V::Div(correlation_[g], e)));
            tilt_[g] = V::Round(V::Add(tilt_[g], V::Mul(V::Set(0.75), V::Sub(ratio, tilt_[g]))));
            t_[g] = V::Round(V::Mul(V::Set(0.21875), tilt_[g]));
        }
    }

    void FormantStep(int i)
    {
        MERVOX_UNROLL(4)
        for (int g = 0; g < kGroups; ++g) {
            const double* y = f_.y[kLpcOrder + i] + Lane(g);
            Reg sum = V::Mul(w_[g][0], lastY_[g]);
            MERVOX_UNROLL(6)
            for (int k = 1; k < kPostfilterHistory; ++k)
                sum = V::Add(sum, V::Mul(w_[g][k], V::Load(y - (k + 1) * kLanes)));
            const Reg in = V::Load(f_.x[kLpcOrder + i] + Lane(g));
            const Reg before = V::Load(f_.x[kLpcOrder + i - 1] + Lane(g));
            const Reg tilted = V::Mul(V::Set(1.03125), V::Sub(in, V::Mul(t_[g], before)));
            const Reg out = V::Round(V::Add(sum, tilted));
            V::Store(f_.y[kLpcOrder + i] + Lane(g), out);
            V::StorePcm(f_.pcm[i] + Lane(g), out);
            lastY_[g] = out;
        }
    }

    LaneFrames<kLanes>& f_;
    Reg lastX_[kGroups];  // the most recent synthesized and postfiltered samples
    Reg lastY_[kGroups];
    Reg a_[kGroups][kLpcOrder];
    Reg w_[kGroups][kPostfilterHistory];
    Reg t_[kGroups];
    Reg tilt_[kGroups];
    Reg energy_[kGroups];
    Reg correlation_[kGroups];
};

// Up to kGroups * kWidth streams through one LaneFilter; unused lanes
// filter silence and are thrown away.
template <int kGroups>
void FilterGroup(const LaneStream* streams, int count)
{
    constexpr int kLanes = LaneFilter<kGroups>::kLanes;
    LaneFrames<kLanes> f;
    for (int l = 0; l < kLanes; ++l) {
        if (l >= count) {
            for (int i = 0; i < kFrameLength; ++i)
                f.excitation[i][l] = 0.0f;
            for (int i = 0; i < kLpcOrder; ++i)
                f.x[i][l] = f.y[i][l] = 0.0;
            for (int s = 0; s < kSubframes; ++s)
                for (int k = 0; k < kLpcOrder; ++k)
                    f.lpc[s][k][l] = 0.0f;
            f.tilt[l] = 0.0f;
            continue;
        }
        const LaneStream& s = streams[l];
        for (int i = 0; i < kFrameLength; ++i)
            f.excitation[i][l] = s.excitation[i];
        for (int i = 0; i < kLpcOrder; ++i) {
            f.x[i][l] = s.synthesis[i];
            f.y[i][l] = s.postfiltered[i];
        }
        for (int sf = 0; sf < kSubframes; ++sf)
            for (int k = 0; k < kLpcOrder; ++k)
                f.lpc[sf][k][l] = s.lpc[kLpcOrder * sf + k];
        f.tilt[l] = *s.tilt;
    }

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
        for (int i = 0; i < kFrameLength; ++i)
            s.pcm[i] = f.pcm[i][l];
    }
}

// All streams, kGroups registers at a time while more than one register's
// worth is left.
void FilterAll(const LaneStream* streams, int count)
{
    while (count > 0) {
        const int lanes = count > V::kWidth && V::kGroups > 1 ? V::kGroups * V::kWidth : V::kWidth;
        const int n = count < lanes ? count : lanes;
        if (lanes > V::kWidth)
            FilterGroup<V::kGroups>(streams, n);
        else
            FilterGroup<1>(streams, n);
        streams += n;
        count -= n;
    }
}
