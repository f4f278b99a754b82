// Loss plans: mask bytes, seeded random drops, and both together.
#include <gtest/gtest.h>

#include "decode/loss.h"

namespace mervox::media::decode {
namespace {

TEST(LossPlan, MaskBytesMarkFramesAndShortOrLongMasksAreTolerated)
{
    EXPECT_EQ(BuildLossPlan(5, {0, 7, 0, 1}, 0.0, 1), (std::vector<uint8_t>{0, 1, 0, 1, 0}));
    EXPECT_EQ(BuildLossPlan(2, {1, 0, 1, 1}, 0.0, 1), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(BuildLossPlan(3, {}, 0.0, 1), (std::vector<uint8_t>{0, 0, 0}));
}

TEST(LossPlan, RandomDropsFollowRateAndSeed)
{
    const size_t n = 20000;
    const std::vector<uint8_t> a = BuildLossPlan(n, {}, 0.1, 7);
    EXPECT_EQ(a, BuildLossPlan(n, {}, 0.1, 7));
    EXPECT_NE(a, BuildLossPlan(n, {}, 0.1, 8));
    size_t lost = 0;
    for (uint8_t x : a)
        lost += x;
    EXPECT_GT(lost, n * 9 / 100);
    EXPECT_LT(lost, n * 11 / 100);
    EXPECT_EQ(BuildLossPlan(50, {}, 1.0, 3), std::vector<uint8_t>(50, 1));

    // The mask adds to the random drops without moving them.
    std::vector<uint8_t> mask(n, 0);
    mask[5] = mask[77] = 1;
    std::vector<uint8_t> both = a;
    both[5] = both[77] = 1;
    EXPECT_EQ(BuildLossPlan(n, mask, 0.1, 7), both);
}

}  // namespace
}  // namespace mervox::media::decode
