// LSP interpolation and conversion to LPC sets, several sets at once.
//
// The sets of a frame are the same operations on different inputs, and
// each conversion is a short chain of dependent roundings. So the sets go
// side by side, two a DoublePair (set first + 2j + lane in pair j), every
// lane with the scalar conversion's operations, order and rounding
// points, and the processor works on all the chains at once.
#include "codec_facts.h"
#include "lanes/pair.h"
#include "loop_hints.h"
#include "lsp/lsp.h"
#include "tables/tables.h"

namespace mervox {
namespace {

using Pair = PairLanes;

// -cos(pi * v / 256) by linear interpolation in the cosine table, for the
// value in each lane (a float held as a double): with k = floor(v) and
// f = v - k (a float), -(table[k] + (table[k + 1] - table[k]) f). Values
// below 0 (the spacing may push the lowest LSP there) are read as 0;
// values at or beyond the table's end, which decoding never produces, as
// its last interval.
#if defined(__SSE2__) && defined(__GNUC__)

DoublePair NegatedCosine(DoublePair v)
{
    // v < 0 (or not a number) reads as 0; the index is at most 510. For
    // v >= 0, truncation is the floor.
    const __m128d w = _mm_and_pd(_mm_cmpge_pd(v, _mm_setzero_pd()), v);
    const __m128i k = _mm_cvttpd_epi32(_mm_min_pd(w, _mm_set1_pd(510.0)));
    const DoublePair f = Pair::Round(_mm_sub_pd(w, _mm_cvtepi32_pd(k)));
    // Each lane's two neighbouring entries in one load.
    const __m128d a = Pair::Widen(CosineTable + _mm_cvtsi128_si32(k));
    const __m128d b = Pair::Widen(CosineTable + _mm_cvtsi128_si32(_mm_srli_si128(k, 4)));
    const DoublePair c0 = _mm_unpacklo_pd(a, b);
    const DoublePair c1 = _mm_unpackhi_pd(a, b);
    return Pair::Round(-(c0 + (c1 - c0) * f));
}

#else

DoublePair NegatedCosine(DoublePair v)
{
    int k[2];
    double f[2];
    for (int l = 0; l < 2; ++l) {
        const float value = static_cast<float>(v[l]);
        k[l] = 0;
        f[l] = 0.0;
        if (value >= 0.0f) {
            // For v >= 0, truncation is the floor (without a library call).
            k[l] = value < 511.0f ? static_cast<int>(value) : 510;
            f[l] = static_cast<float>(static_cast<double>(value) - k[l]);
        }
    }
    const DoublePair c0 = Pair::Make(CosineTable[k[0]], CosineTable[k[1]]);
    const DoublePair c1 = Pair::Make(CosineTable[k[0] + 1], CosineTable[k[1] + 1]);
    return Pair::Round(-(c0 + (c1 - c0) * Pair::Make(f[0], f[1])));
}

#endif

// One half-polynomial of every pair: h[0..5] from the cosines c[first],
// c[first + 2], ..., c[first + 8]: half the coefficients of the product of
// (1 + 2 c z^-1 + z^-2), each a float (held as a double).
template <int kPairs>
void HalfPolynomials(DoublePair h[kPairs][6], const DoublePair c[kPairs][kLpcOrder], int first)
{
    const DoublePair half = Pair::Set(0.5), one = Pair::Set(1.0), two = Pair::Set(2.0);
    MERVOX_UNROLL(2)
    for (int j = 0; j < kPairs; ++j) {
        h[j][0] = half;
        h[j][1] = Pair::Round(c[j][first] + c[j][first + 2]);
        h[j][2] = Pair::Round(c[j][first] * c[j][first + 2] * two + one);
    }
    MERVOX_UNROLL(3)
    for (int i = 2; i <= 4; ++i) {
        MERVOX_UNROLL(2)
        for (int j = 0; j < kPairs; ++j) {
            const DoublePair e = c[j][first + 2 * i];
            DoublePair* p = h[j];
            p[i + 1] = Pair::Round((p[i] * e + p[i - 1]) * two);
            MERVOX_UNROLL(3)
            for (int m = i; m >= 2; --m)
                p[m] = Pair::Round(p[m - 1] * e * two + p[m - 2] + p[m]);
            p[1] = Pair::Round(e + p[1]);
        }
    }
}

// The LPC sets first .. first + 2 kPairs - 1 into lpc[0 .. 20 kPairs - 1].
template <int kPairs>
void InterpolateSets(float* lpc, int first, const float curLsp[kLpcOrder], const float prevLsp[kLpcOrder])
{
    DoublePair w[kPairs];
    for (int j = 0; j < kPairs; ++j)
        w[j] = Pair::Make(LspInterpolationWeights[first + 2 * j], LspInterpolationWeights[first + 2 * j + 1]);

    // The interpolated LSP vectors (floats), then their negated cosines.
    DoublePair c[kPairs][kLpcOrder];
    MERVOX_UNROLL(10)
    for (int i = 0; i < kLpcOrder; ++i) {
        const DoublePair step = Pair::Set(static_cast<double>(curLsp[i]) - prevLsp[i]);
        const DoublePair base = Pair::Set(prevLsp[i]);
        MERVOX_UNROLL(2)
        for (int j = 0; j < kPairs; ++j)
            c[j][i] = NegatedCosine(Pair::Round(step * w[j] + base));
    }

    DoublePair p[kPairs][6], q[kPairs][6];
    HalfPolynomials<kPairs>(p, c, 0);
    HalfPolynomials<kPairs>(q, c, 1);

    MERVOX_UNROLL(2)
    for (int j = 0; j < kPairs; ++j) {
        float* set0 = lpc + 2 * kLpcOrder * j;
        float* set1 = set0 + kLpcOrder;
        MERVOX_UNROLL(5)
        for (int k = 0; k < 5; ++k) {
            float low[2], high[2];
            Pair::Narrow(low, q[j][k] - p[j][k + 1] - p[j][k] - q[j][k + 1]);
            Pair::Narrow(high, q[j][k + 1] - p[j][k + 1] - p[j][k] - q[j][k]);
            set0[k] = low[0];
            set1[k] = low[1];
            set0[9 - k] = high[0];
            set1[9 - k] = high[1];
        }
    }
}

}  // namespace

void InterpolateLspPair(float sets[2 * kLpcOrder], int first, const float curLsp[kLpcOrder],
                        const float prevLsp[kLpcOrder])
{
    InterpolateSets<1>(sets, first, curLsp, prevLsp);
}

void InterpolateLsp(float lpc[kLpcSetsLength], const float curLsp[kLpcOrder], const float prevLsp[kLpcOrder])
{
    InterpolateSets<2>(lpc, 0, curLsp, prevLsp);
}

}  // namespace mervox
