// The register traits that a portable build compiles (lanes/scalar.h,
// lanes/pair.h, lanes/sse2.h), lane by lane against plain double and float
// arithmetic: every lane must compute exactly what one double would, or a
// lane form would not be bit-identical to its scalar form. The portable
// pair is what aarch64 and s390x builds run, so it is checked here too.
// (The AVX2 and AVX-512 traits are compiled only into their kernels, which
// tests/lanes compares with the single-stream path.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lanes/pair.h"
#include "lanes/scalar.h"
#include "lanes/sse2.h"
#include "postfilter/pcm16_round.h"

namespace mervox {
namespace {

// Inputs with every kind of value: ordinary, tiny, huge, zeros, infinities,
// NaN, and doubles that are not floats (so that Round has to round).
std::vector<double> Values()
{
    std::vector<double> v = {0.0,
                             -0.0,
                             1.0 / 3.0,
                             -2.5,
                             0.1,
                             1e-310,
                             3.5e38,
                             -1e300,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
    std::mt19937 rng(2);
    std::normal_distribution<double> normal(0.0, 1000.0);
    while (v.size() < 64)
        v.push_back(normal(rng));
    return v;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <class V>
void CheckArithmetic(const char* name)
{
    constexpr int kW = V::kWidth;
    const std::vector<double> values = Values();
    for (size_t i = 0; i + 2 * kW <= values.size(); ++i) {
        const double* a = values.data() + i;
        const double* b = values.data() + i + kW;
        double out[6][kW];
        V::Store(out[0], V::Add(V::Load(a), V::Load(b)));
        V::Store(out[1], V::Mul(V::Load(a), V::Load(b)));
        V::Store(out[2], V::Round(V::Load(a)));
        V::Store(out[3], V::Set(a[0]));
        float narrowed[kW], floats[kW];
        V::Narrow(narrowed, V::Load(a));
        for (int l = 0; l < kW; ++l)
            floats[l] = static_cast<float>(b[l]);
        V::Store(out[4], V::Widen(floats));
        for (int l = 0; l < kW; ++l) {
            EXPECT_TRUE(SameBits(out[0][l], a[l] + b[l])) << name << " Add " << a[l] << " " << b[l];
            EXPECT_TRUE(SameBits(out[1][l], a[l] * b[l])) << name << " Mul " << a[l] << " " << b[l];
            EXPECT_TRUE(SameBits(out[2][l], static_cast<double>(static_cast<float>(a[l]))))
                << name << " Round " << a[l];
            EXPECT_TRUE(SameBits(out[3][l], a[0])) << name << " Set";
            EXPECT_TRUE(SameBits(narrowed[l], static_cast<float>(a[l]))) << name << " Narrow " << a[l];
            EXPECT_TRUE(SameBits(out[4][l], static_cast<double>(floats[l]))) << name << " Widen " << floats[l];
        }
    }
}

// What the filter kernel and the output rounding use beyond Add and Mul.
template <class V>
void CheckKernelOperations(const char* name)
{
    constexpr int kW = V::kWidth;
    const std::vector<double> values = Values();
    for (size_t i = 0; i + 2 * kW <= values.size(); ++i) {
        const double* a = values.data() + i;
        const double* b = values.data() + i + kW;
        double out[6][kW];
        const typename V::Reg ra = V::Load(a), rb = V::Load(b);
        V::Store(out[0], V::Sub(ra, rb));
        V::Store(out[1], V::Div(ra, rb));
        V::Store(out[2], V::ZeroWhereZero(ra, rb));
        V::Store(out[3], V::Select(V::NotBelowZero(ra), ra, rb));
        V::Store(out[4], V::Max(V::Min(ra, rb), V::Set(-1.0)));
        V::Store(out[5], V::ZeroWhereNaN(ra, rb));
        for (int l = 0; l < kW; ++l) {
            const double minimum = a[l] < b[l] ? a[l] : b[l];  // b where either is NaN
            EXPECT_TRUE(SameBits(out[0][l], a[l] - b[l])) << name << " Sub";
            EXPECT_TRUE(SameBits(out[1][l], a[l] / b[l])) << name << " Div";
            EXPECT_TRUE(SameBits(out[2][l], a[l] == 0.0 ? 0.0 : b[l])) << name << " ZeroWhereZero " << a[l];
            EXPECT_TRUE(SameBits(out[3][l], a[l] >= 0.0 ? a[l] : b[l])) << name << " Select " << a[l];
            EXPECT_TRUE(SameBits(out[4][l], minimum > -1.0 ? minimum : -1.0)) << name << " Min, Max " << a[l];
            EXPECT_TRUE(SameBits(out[5][l], std::isnan(a[l]) ? 0.0 : b[l])) << name << " ZeroWhereNaN " << a[l];
        }
    }
}

// The operations of the pair stages (codebooks, LSP to LPC).
template <class P>
void CheckPairOperations(const char* name)
{
    std::mt19937 rng(5);
    std::normal_distribution<float> normal(0.0f, 3000.0f);
    for (int trial = 0; trial < 1000; ++trial) {
        const float f[4] = {normal(rng), normal(rng), normal(rng), normal(rng)};
        const float g = normal(rng) / 1000.0f;
        double out[3][2];
        P::Store(out[0], P::Make(f[0], f[1]));
        P::Store(out[1], P::MiddlePair(P::Widen(f), P::Widen(f + 2)));
        P::Store(out[2], P::ProductOfFloats(g, f + 1));
        const double sum[2] = {f[0] / 3.0, f[1] / 7.0};  // not floats
        float stored[2];
        P::StoreSumOfFloats(stored, P::Load(sum), f + 2);
        EXPECT_TRUE(out[0][0] == f[0] && out[0][1] == f[1]) << name << " Make";
        EXPECT_TRUE(out[1][0] == f[1] && out[1][1] == f[2]) << name << " MiddlePair";
        for (int l = 0; l < 2; ++l) {
            const float product = g * f[1 + l];  // float arithmetic: contraction is off
            EXPECT_TRUE(SameBits(out[2][l], static_cast<double>(product))) << name << " ProductOfFloats";
            const float s = static_cast<float>(sum[l]) + f[2 + l];
            EXPECT_TRUE(SameBits(stored[l], s)) << name << " StoreSumOfFloats";
        }
    }
}

TEST(RegisterTraits, EveryLaneComputesWhatOneDoubleWould)
{
    CheckArithmetic<ScalarLanes>("scalar");
    CheckArithmetic<PortablePairLanes>("portable pair");
    CheckKernelOperations<ScalarLanes>("scalar");
#if defined(__SSE2__)
    CheckArithmetic<Sse2Lanes>("sse2");
    CheckKernelOperations<Sse2Lanes>("sse2");
#endif
}

TEST(RegisterTraits, PairStagesGetTheSameFromEveryPair)
{
    CheckPairOperations<PortablePairLanes>("portable pair");
#if defined(__SSE2__)
    CheckPairOperations<Sse2Lanes>("sse2");
#endif
}

}  // namespace
}  // namespace mervox
