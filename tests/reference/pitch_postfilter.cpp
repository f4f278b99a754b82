#include "codec_facts.h"
#include "postfilter/postfilter.h"
#include "reference.h"

namespace mervox::reference {
namespace {

double Dot(const float* a, const float* b)
{
    double sum = 0.0;
    for (int n = 0; n < kSubframeLength; ++n)
        sum += static_cast<double>(a[n]) * b[n];
    return sum;
}

struct Candidate {
    int lag = 0;
    float correlation = 0.0f;
};

Candidate Search(const float* x, int first, int last, int direction)
{
    Candidate best;
    for (int j = first; j <= last; ++j) {
        const double r = Dot(x, x + direction * j);
        if (r > best.correlation) {
            best.correlation = static_cast<float>(r);
            best.lag = j;
        }
    }
    return best;
}

}  // namespace

PitchPostfilterParams ChoosePitchPostfilter(const float* x, int openLoopLag, int subframe)
{
    const int centre = openLoopLag > 142 ? 142 : openLoopLag;
    const int lastForward = kFrameLength - kSubframeLength * (subframe + 1);
    const Candidate b = Search(x, centre - 3, centre + 3, -1);
    const Candidate f = Search(x, centre - 3, centre + 3 < lastForward ? centre + 3 : lastForward, +1);
    const float e0 = static_cast<float>(Dot(x, x));
    if (b.lag == 0 && f.lag == 0)
        return {0, 0.0f, 1.0f};
    const float eb = b.lag ? static_cast<float>(Dot(x - b.lag, x - b.lag)) : 0.0f;
    const float ef = f.lag ? static_cast<float>(Dot(x + f.lag, x + f.lag)) : 0.0f;
    if (f.lag == 0)
        return ComputePitchGains(-b.lag, e0, b.correlation, eb);
    if (b.lag == 0)
        return ComputePitchGains(f.lag, e0, f.correlation, ef);
    const double rf = f.correlation, rb = b.correlation;
    if (rf * rf * eb >= rb * rb * ef)
        return ComputePitchGains(f.lag, e0, f.correlation, ef);
    return ComputePitchGains(-b.lag, e0, b.correlation, eb);
}

void PitchPostfilter(float pfExcitation[kFrameLength], const float* x, const int32_t openLoopLag[kHalfFrames])
{
    for (int s = 0; s < kSubframes; ++s) {
        const float* sub = x + kSubframeLength * s;
        const PitchPostfilterParams p = ChoosePitchPostfilter(sub, openLoopLag[s / 2], s);
        for (int n = 0; n < kSubframeLength; ++n)
            pfExcitation[kSubframeLength * s + n] = static_cast<float>(static_cast<double>(sub[n]) * p.scale +
                                                                       static_cast<double>(sub[n + p.lag]) * p.gain);
    }
}

}  // namespace mervox::reference
