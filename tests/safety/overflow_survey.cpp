// Measures how often random frames overflow the decoder (not a test; its
// figures are quoted in fuzz/README.md):
//
//   mervox_overflow_survey FRAMES [SEED [MIN_GAIN_ROW [LOSS_PERCENT]]]
//
// Decodes FRAMES random frames (random bytes; with MIN_GAIN_ROW > 0, 5.3
// kbit/s frames whose four gain words all use pitch-gain rows MIN_GAIN_ROW
// .. 169, the rows with the strongest gains) and counts the frames after
// which the decoder had to start over because its history overflowed.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "hostile_streams.h"

namespace {

using mervox::Channel;

void RandomFrame(uint8_t frame[24], std::mt19937& rng, int minGainRow)
{
    for (int i = 0; i < 24; ++i)
        frame[i] = static_cast<uint8_t>(rng());
    if (minGainRow <= 0)
        return;
    frame[0] = static_cast<uint8_t>((frame[0] & ~3) | 1);  // type 1, 5.3 kbit/s
    // Gain words occupy bits 44..91, 12 bits each, least significant first.
    for (int s = 0; s < 4; ++s) {
        const int row = minGainRow + static_cast<int>(rng() % static_cast<unsigned>(170 - minGainRow));
        const int word = row * 24 + static_cast<int>(rng() % 24);
        for (int b = 0; b < 12; ++b) {
            const int bit = 44 + 12 * s + b;
            const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
            frame[bit >> 3] =
                static_cast<uint8_t>(((word >> b) & 1) ? frame[bit >> 3] | mask : frame[bit >> 3] & ~mask);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FRAMES [SEED [MIN_GAIN_ROW [LOSS_PERCENT]]]\n", argv[0]);
        return 2;
    }
    const long frames = std::atol(argv[1]);
    std::mt19937 rng(argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 1u);
    const int minGainRow = argc > 3 ? std::atoi(argv[3]) : 0;
    const int lossPercent = argc > 4 ? std::atoi(argv[4]) : 0;

    Channel channel;
    mervox::ResetChannel(channel, 1);
    long restarts = 0, saturatedFrames = 0;
    float largest = 0.0f;
    uint8_t frame[24];
    int16_t out[240];
    for (long k = 0; k < frames; ++k) {
        RandomFrame(frame, rng, minGainRow);
        const bool lost = lossPercent > 0 && static_cast<int>(rng() % 100) < lossPercent;
        mervox::DecodeChannelFrame(channel, lost ? nullptr : frame, out);
        // A frame never leaves exactly the state of a new stream unless the
        // decoder dropped an overflowed history.
        if (mervox::test::StateIsFresh(channel.state))
            ++restarts;
        for (float v : channel.state.excitation)
            largest = std::max(largest, std::fabs(v));
        saturatedFrames += std::any_of(out, out + 240, [](int16_t v) { return v == 32767 || v == -32768; });
    }
    std::printf("frames %ld  restarts after overflow %ld  largest |excitation| %g  frames with saturated samples %ld\n",
                frames, restarts, static_cast<double>(largest), saturatedFrames);
    return 0;
}
