// Pitch postfilter: lag search backward and forward, its limits and ties,
// and the gain and scale of the chosen lag.
#include <gtest/gtest.h>

#include "codec_facts.h"
#include "postfilter/postfilter.h"

namespace mervox {
namespace {

struct Excitation {
    float data[kExcitationLength] = {};
    float& at(int frameSample) { return data[kHistoryLength + frameSample]; }
    PitchPostfilterParams Filter(int openLoopLag, int subframe)
    {
        return ComputePitchPostfilter(data + kHistoryLength + 60 * subframe, openLoopLag, subframe);
    }
};

void ExpectParams(const PitchPostfilterParams& p, int lag, float gain, float scale)
{
    EXPECT_EQ(p.lag, lag);
    EXPECT_EQ(p.gain, gain);
    EXPECT_EQ(p.scale, scale);
}

TEST(PitchGains, WorkedValues)
{
    ExpectParams(ComputePitchGains(-40, 200.0f, 200.0f, 200.0f), -40, 0.176107109f, 0.823892891f);
    ExpectParams(ComputePitchGains(40, 200.0f, 150.0f, 200.0f), 40, 0.142469391f, 0.888697982f);
    ExpectParams(ComputePitchGains(40, 200.0f, 300.0f, 200.0f), 40, 0.164572179f, 0.769928336f);
    // The gain multiplies g by the square root before it is rounded.
    ExpectParams(ComputePitchGains(40, 100.0f, 77.0f, 200.0f), 40, 0.0770657957f, 0.936472118f);
    // R^2 == E0 E1 / 4 is too weak: the lag stays but does nothing.
    ExpectParams(ComputePitchGains(-57, 400.0f, 100.0f, 100.0f), -57, 0.0f, 1.0f);
    EXPECT_GT(ComputePitchGains(-57, 400.0f, 100.5f, 100.0f).gain, 0.0f);
}

TEST(PitchPostfilter, EqualForwardAndBackwardGoForward)
{
    // Pulses of 10 every 40 samples: E0 = R = E1 = 200 both ways.
    Excitation e;
    for (int n = 10 - 40 * 6; n < 240; n += 40)
        e.at(n) = 10.0f;
    ExpectParams(e.Filter(40, 0), 40, 0.176107109f, 0.823892891f);
    ExpectParams(e.Filter(40, 3), -40, 0.176107109f, 0.823892891f);  // no forward lag in subframe 3

    // An extra pulse in the forward segment lowers its normalised correlation.
    e.at(70) = 10.0f;
    ExpectParams(e.Filter(40, 0), -40, 0.176107109f, 0.823892891f);
}

TEST(PitchPostfilter, EqualCorrelationsKeepTheSmallerLag)
{
    Excitation e;
    e.at(180) = 10.0f;
    e.at(180 - 38) = 20.0f;
    e.at(180 - 42) = 20.0f;
    const PitchPostfilterParams expected = ComputePitchGains(-38, 100.0f, 200.0f, 500.0f);
    ExpectParams(e.Filter(40, 3), -38, expected.gain, expected.scale);
}

TEST(PitchPostfilter, ForwardLagStaysInsideTheFrame)
{
    // Subframe 2: with an open-loop lag of 63 only lag 60 may look forward,
    // although lag 61 correlates better.
    Excitation e;
    e.at(120) = 10.0f;
    e.at(180) = 20.0f;
    e.at(181) = 30.0f;
    const PitchPostfilterParams expected = ComputePitchGains(60, 100.0f, 200.0f, 1300.0f);
    ExpectParams(e.Filter(63, 2), 60, expected.gain, expected.scale);
    ExpectParams(e.Filter(64, 2), 0, 0.0f, 1.0f);
}

TEST(PitchPostfilter, CentreLagLimitedTo142)
{
    Excitation e;
    e.at(180) = 10.0f;
    e.at(180 - 145) = 10.0f;
    const PitchPostfilterParams expected = ComputePitchGains(-145, 100.0f, 100.0f, 100.0f);
    ExpectParams(e.Filter(150, 3), -145, expected.gain, expected.scale);
    ExpectParams(e.Filter(142, 3), -145, expected.gain, expected.scale);
    ExpectParams(e.Filter(141, 3), 0, 0.0f, 1.0f);  // searches 138..144
}

TEST(PitchPostfilter, NoPositiveCorrelationIsNeutral)
{
    Excitation e;
    ExpectParams(e.Filter(40, 0), 0, 0.0f, 1.0f);
    e.at(180) = 10.0f;
    e.at(140) = -10.0f;
    ExpectParams(e.Filter(40, 3), 0, 0.0f, 1.0f);
}

}  // namespace
}  // namespace mervox
