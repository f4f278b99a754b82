// LPC synthesis and formant postfilter: coefficient sets per subframe,
// history across the frame boundary, tilt smoothing and the worked numbers,
// on the filters run one after the other (the library's overlapped form is
// checked against them in fast_paths_test.cpp).
#include <gtest/gtest.h>

#include <cmath>

#include "codec_facts.h"
#include "reference.h"

namespace mervox {
namespace {

using reference::FormantPostfilter;
using reference::SynthesisFilter;

struct Filters {
    float synthesis[kFilterMemoryLength] = {};
    float postfilter[kFilterMemoryLength] = {};
    float lpc[kLpcSetsLength] = {};
    float tilt = 0.0f;
    float* speech() { return synthesis + kLpcOrder; }
    float* out() { return postfilter + kLpcOrder; }
    void Postfilter() { FormantPostfilter(out(), speech(), lpc, tilt); }
};

TEST(SynthesisFilter, HistoryOrderAndSubframeSets)
{
    Filters f;
    float excitation[240] = {};
    for (int k = 0; k < 10; ++k)
        f.synthesis[k] = static_cast<float>(k + 1);  // element 9 is the newest
    f.lpc[9] = 1.0f;                                 // subframe 0: y[n] = y[n - 10]
    f.lpc[10 + 0] = 0.5f;                            // subframe 1: y[n] = 0.5 y[n - 1]
    excitation[200] = 3.0f;
    SynthesisFilter(f.synthesis, excitation, f.lpc);
    for (int n = 0; n < 60; ++n)
        EXPECT_EQ(f.speech()[n], static_cast<float>(n % 10 + 1)) << n;
    for (int n = 60; n < 120; ++n)
        EXPECT_EQ(f.speech()[n], static_cast<float>(10.0 * std::ldexp(1.0, 59 - n))) << n;
    for (int n = 120; n < 240; ++n)  // zero sets copy the excitation
        EXPECT_EQ(f.speech()[n], excitation[n]) << n;
}

TEST(FormantPostfilter, WorkedNumbersAcrossSubframes)
{
    Filters f;
    for (int n = 0; n < 120; ++n)
        f.speech()[n] = 1000.0f;
    f.Postfilter();
    EXPECT_EQ(f.out()[0], 1031.25f);
    for (int n = 1; n < 60; ++n)
        EXPECT_EQ(f.out()[n], 864.880371f) << n;
    for (int n = 60; n < 120; ++n)
        EXPECT_EQ(f.out()[n], 823.287964f) << n;
    // Subframe 2 is silent: tilt 0.921875 -> 0.23046875, and only the tilt
    // term of the last input sample remains.
    EXPECT_EQ(f.out()[120], static_cast<float>(-1.03125 * static_cast<float>(0.21875 * 0.23046875) * 1000.0));
    for (int n = 121; n < 240; ++n)
        EXPECT_EQ(f.out()[n], 0.0f) << n;
    EXPECT_EQ(f.tilt, 0.921875f / 16);
}

TEST(FormantPostfilter, SilentSubframeQuartersTheTilt)
{
    Filters f;
    f.tilt = 0.7375f;
    f.Postfilter();
    EXPECT_EQ(f.tilt, 0.7375f / 256);  // 0.184375 after the first subframe
    for (int n = 0; n < 240; ++n)
        EXPECT_EQ(f.out()[n], 0.0f) << n;
}

TEST(FormantPostfilter, TapKWeightedBy0135ToTheKPlusOne)
{
    for (int k = 0; k < 6; ++k) {
        Filters f;
        f.lpc[k] = 1.0f;
        f.postfilter[9 - k] = 1000.0f;  // output k + 1 samples back
        f.Postfilter();
        EXPECT_FLOAT_EQ(f.out()[0], static_cast<float>(1000.0 * std::pow(0.135, k + 1))) << k;
    }
}

TEST(FormantPostfilter, ReadsSixOutputsAndOneInputOfHistory)
{
    Filters base;
    base.tilt = 0.8f;
    for (int k = 0; k < 10; ++k) {
        base.postfilter[k] = 3000.0f * static_cast<float>(k + 1);
        base.synthesis[k] = 500.0f;
    }
    for (int s = 0; s < 4; ++s)
        for (int k = 0; k < 10; ++k)
            base.lpc[10 * s + k] = (k % 2 ? -1.0f : 1.0f) * (1.5f + 0.1f * static_cast<float>(k));

    Filters ref = base;
    ref.Postfilter();
    // First output sample that a change of the inputs moves, or -1.
    auto firstChanged = [&](void (*change)(Filters&)) {
        Filters f = base;
        change(f);
        f.Postfilter();
        for (int n = 0; n < 240; ++n)
            if (f.out()[n] != ref.out()[n])
                return n;
        return -1;
    };
    EXPECT_EQ(firstChanged([](Filters& f) { f.postfilter[3] = -7.0f; }), -1);  // 7 back
    EXPECT_EQ(firstChanged([](Filters& f) { f.postfilter[4] = -7.0f; }), 0);   // 6 back
    EXPECT_EQ(firstChanged([](Filters& f) { f.synthesis[9] = 0.0f; }), 0);
    EXPECT_EQ(firstChanged([](Filters& f) { f.synthesis[8] = 0.0f; }), -1);
    EXPECT_EQ(firstChanged([](Filters& f) { f.lpc[10] = 0.0f; }), 60);  // set 1 from subframe 1 on
    EXPECT_EQ(firstChanged([](Filters& f) {
                  for (int s = 0; s < 4; ++s)
                      for (int k = 6; k < 10; ++k)
                          f.lpc[10 * s + k] = 0.0f;
              }),
              -1);
}

}  // namespace
}  // namespace mervox
