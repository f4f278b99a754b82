#include "excitation/excitation.h"

#include <cstring>

#include "codec_facts.h"
#include "lanes/pair.h"
#include "loop_hints.h"
#include "tables/tables.h"

namespace mervox {
namespace {

using Pair = PairLanes;

// 6.3 kbit/s: Np pulses (6 in even, 5 in odd subframes) on the grid
// grid, grid + 2, ..., named by an enumerative code. Sign bits go from the
// most significant (lowest position) down; a set bit is a negative pulse.
void PlaceMultipulse(float v[], const SubframeParams& sub, int subframe, float g)
{
    const int pulses = (subframe % 2 == 0) ? kMaxPulses : kMaxPulses - 1;
    int32_t code = sub.pulsePositions;
    int row = kMaxPulses - pulses;
    int placed = 0;
    for (int j = 0; j < kMultipulsePositions && placed < pulses; ++j) {
        const int32_t rest = code - PulseCombinationTable[row][j];
        if (rest >= 0) {
            code = rest;
            continue;
        }
        ++row;
        ++placed;
        const bool negative = (sub.pulseSigns >> (pulses - placed)) & 1;
        v[sub.grid + 2 * j] = negative ? -g : g;
    }
}

// 5.3 kbit/s: one pulse on each of four interleaved tracks, position from
// three bits of the code each; a set sign bit is a positive pulse.
void PlaceAlgebraic(float v[], const SubframeParams& sub, float g)
{
    for (int track = 0; track < 4; ++track) {
        const int m = (sub.pulsePositions >> (3 * track)) & 7;
        const bool positive = (sub.pulseSigns >> track) & 1;
        v[sub.grid + 2 * track + 8 * m] = positive ? g : -g;
    }
}

// v[0..63] = 0 in 16-byte stores: a string instruction or library call,
// which compilers choose for a plain loop or memset, takes longer to start.
void ClearVector(float v[kPulseVectorLength])
{
    const DoublePair zero = Pair::Set(0.0);  // all bits clear, as four floats 0.0f
    MERVOX_UNROLL(16)
    for (int n = 0; n < kPulseVectorLength; n += 4)
        std::memcpy(v + n, &zero, sizeof zero);
}

}  // namespace

void AddPitchComb(float v[kSubframeLength], int lag, float g)
{
    for (int n = lag; n < kSubframeLength; ++n)
        v[n] = static_cast<float>(v[n] + static_cast<double>(g) * v[n - lag]);
}

void MakeFixedCodebookVector(float v[kPulseVectorLength], const FrameParams& params, int rate, int subframe)
{
    const SubframeParams& sub = params.sub[subframe];
    const int openLoopLag = params.openLoopLag[subframe / 2];
    const float g = FixedGainTable[sub.ampIndex];
    ClearVector(v);

    if (rate == kRate63) {
        PlaceMultipulse(v, sub, subframe, g);
        if (sub.trainFlag)
            AddPitchComb(v, openLoopLag, 1.0f);
    } else {
        PlaceAlgebraic(v, sub, g);
        const int lag = openLoopLag + sub.lagOffset - 1 + SharpeningLagTable[sub.gainIndex];
        if (lag < kShortLagLimit)
            AddPitchComb(v, lag, SharpeningGainTable[sub.gainIndex]);
    }
}

void DecodeFixedCodebook(float* x, const FrameParams& params, int rate, int subframe)
{
    float v[kPulseVectorLength];
    MakeFixedCodebookVector(v, params, rate, subframe);
    // The sum of two floats rounded to float: a float addition gives the
    // same as the double sum rounded (double has more than twice float's
    // precision, so the two roundings never differ from one).
    for (int n = 0; n < kSubframeLength; ++n)
        x[n] = x[n] + v[n];
}

}  // namespace mervox
