#include <cstring>

#include "codec_facts.h"
#include "excitation/excitation.h"
#include "lanes/pair.h"
#include "loop_hints.h"
#include "tables/tables.h"

namespace mervox {
namespace {

using Pair = PairLanes;

constexpr int kTapReach = kPitchTaps / 2;  // the taps read x[n - lag - 2] .. x[n - lag + 2]
// Samples the taps read for one subframe: x[-lag - 2] .. x[59 - lag + 2].
constexpr int kLaggedLength = kSubframeLength + kPitchTaps - 1;

// The samples the five taps read, s[i] = x[i - lag - 2] for i = 0..63, with
// the subframe's own samples (i - lag - 2 >= 0) taken from the periodic
// extension: they repeat the last `lag` samples before the subframe. For
// lag >= 62 every sample read lies before the subframe and is read in
// place; shorter lags build the extended run in `buffer`.
const float* LaggedSamples(const float* x, int lag, float buffer[kLaggedLength])
{
    const float* past = x - lag - kTapReach;
    if (lag >= kLaggedLength - kTapReach)
        return past;
    // s[i] = s[i - lag] from i = lag + 2 on: whole periods, each copied
    // from the one before it.
    const int fromPast = lag + kTapReach;
    std::memcpy(buffer, past, sizeof(float) * static_cast<size_t>(fromPast));
    for (int i = fromPast; i < kLaggedLength; i += lag) {
        const int count = kLaggedLength - i < lag ? kLaggedLength - i : lag;
        std::memcpy(buffer + i, buffer + i - lag, sizeof(float) * static_cast<size_t>(count));
    }
    return buffer;
}

// Samples filtered side by side: kBlockPairs pairs of lanes, advanced tap
// by tap, so that the processor has several independent sums to work on
// at every step instead of one long chain of roundings.
constexpr int kBlockPairs = 3;
constexpr int kBlockLength = 2 * kBlockPairs;
static_assert(kSubframeLength % kBlockLength == 0, "the blocks must tile the subframe");

// The five-tap filter, two samples a lane pair: the samples of a subframe
// depend only on samples before this filter, so they are computed side by
// side, each lane with the scalar filter's products, order and rounding
// (every partial sum stored as a float). The samples read are widened to
// double once, a pair at a time; the odd pairs the taps read between them
// are taken from two even ones. The first tap's product of two floats,
// rounded to float, is a float product. With `fixed`, the fixed-codebook
// vector is added to each finished sample: float plus float, rounded to
// float.
template <bool kAddFixed>
void FilterTaps(float* x, const float* s, const float g[kPitchTaps], const float* fixed)
{
    const DoublePair g1 = Pair::Set(g[1]), g2 = Pair::Set(g[2]), g3 = Pair::Set(g[3]), g4 = Pair::Set(g[4]);
    for (int b = 0; b < kSubframeLength; b += kBlockLength) {
        // even[i] = s[b + 2i], s[b + 2i + 1]: the block reads s[b .. b + kBlockLength + 3].
        DoublePair even[kBlockPairs + 2];
        DoublePair sum[kBlockPairs];
        MERVOX_UNROLL(8)
        for (int i = 0; i < kBlockPairs + 2; ++i)
            even[i] = Pair::Widen(s + b + 2 * i);
        MERVOX_UNROLL(8)
        for (int i = 0; i < kBlockPairs; ++i)
            sum[i] = Pair::ProductOfFloats(g[0], s + b + 2 * i);
        MERVOX_UNROLL(8)
        for (int i = 0; i < kBlockPairs; ++i)
            sum[i] = Pair::Round(sum[i] + g1 * Pair::MiddlePair(even[i], even[i + 1]));
        MERVOX_UNROLL(8)
        for (int i = 0; i < kBlockPairs; ++i)
            sum[i] = Pair::Round(sum[i] + g2 * even[i + 1]);
        MERVOX_UNROLL(8)
        for (int i = 0; i < kBlockPairs; ++i)
            sum[i] = Pair::Round(sum[i] + g3 * Pair::MiddlePair(even[i + 1], even[i + 2]));
        MERVOX_UNROLL(8)
        for (int i = 0; i < kBlockPairs; ++i) {
            const DoublePair last = sum[i] + g4 * even[i + 2];
            if (kAddFixed)
                Pair::StoreSumOfFloats(x + b + 2 * i, last, fixed + b + 2 * i);
            else
                Pair::Narrow(x + b + 2 * i, last);
        }
    }
}

template <bool kAddFixed>
void Decode(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate, const float* fixed)
{
    const int lag = openLoopLag + lagOffset - 1;
    const float* g =
        (rate == kRate53 || openLoopLag >= kShortLagLimit) ? PitchTapTable170[gainIndex] : PitchTapTable85[gainIndex];
    // The filter writes x[0..59] while it reads: safe, since what it reads
    // either lies before x (lag >= 62) or has been copied into the buffer.
    float buffer[kLaggedLength];
    FilterTaps<kAddFixed>(x, LaggedSamples(x, lag, buffer), g, fixed);
}

}  // namespace

void DecodeAdaptiveCodebook(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate)
{
    Decode<false>(x, openLoopLag, lagOffset, gainIndex, rate, nullptr);
}

void DecodeCodebooks(float* x, int openLoopLag, int lagOffset, int gainIndex, int rate,
                     const float fixed[kSubframeLength])
{
    Decode<true>(x, openLoopLag, lagOffset, gainIndex, rate, fixed);
}

}  // namespace mervox
