#include "reference.h"

namespace mervox::reference {
namespace {

// Writes fields one after another, first bit least significant, bit i of
// the frame being bit i % 8 of byte i / 8.
class FrameWriter {
public:
    explicit FrameWriter(uint8_t* frame) : frame_(frame) {}

    void Write(int n, uint32_t value)
    {
        for (int k = 0; k < n; ++k, ++position_) {
            uint8_t& byte = frame_[position_ / 8];
            const unsigned bit = 1u << (position_ % 8);
            byte = static_cast<uint8_t>(((value >> k) & 1u) ? byte | bit : byte & ~bit);
        }
    }

private:
    uint8_t* frame_;
    int position_ = 0;
};

uint32_t Field(int32_t value) { return static_cast<uint32_t>(value); }

}  // namespace

void PackFrame(uint8_t frame[kMaxFrameBytes], const FrameParams& params, int rate)
{
    FrameWriter w(frame);
    w.Write(2, Field(rate));  // frame type
    w.Write(8, Field(params.lspIndex[2]));
    w.Write(8, Field(params.lspIndex[1]));
    w.Write(8, Field(params.lspIndex[0]));
    w.Write(7, Field(params.openLoopLag[0] - kMinLag));
    w.Write(2, Field(params.sub[1].lagOffset));
    w.Write(7, Field(params.openLoopLag[1] - kMinLag));
    w.Write(2, Field(params.sub[3].lagOffset));
    for (int i = 0; i < kSubframes; ++i) {
        const SubframeParams& sub = params.sub[i];
        const int32_t train = rate == kRate63 && params.openLoopLag[i / 2] < kShortLagLimit ? sub.trainFlag << 11 : 0;
        w.Write(12, Field(train + sub.gainIndex * kFixedGains + sub.ampIndex));
    }
    for (int i = 0; i < kSubframes; ++i)
        w.Write(1, Field(params.sub[i].grid));
    if (rate == kRate63) {
        // The high parts of the four position codes share one 13-bit field,
        // as digits of a mixed-radix number (810, 90, 9, 1).
        const int lowBits[kSubframes] = {16, 14, 16, 14};
        int32_t high[kSubframes];
        for (int i = 0; i < kSubframes; ++i)
            high[i] = params.sub[i].pulsePositions >> lowBits[i];
        w.Write(1, 0);  // reserved
        w.Write(13, Field(high[0] * 810 + high[1] * 90 + high[2] * 9 + high[3]));
        for (int i = 0; i < kSubframes; ++i)
            w.Write(lowBits[i], Field(params.sub[i].pulsePositions));
        for (int i = 0; i < kSubframes; ++i)
            w.Write(i % 2 == 0 ? kMaxPulses : kMaxPulses - 1, Field(params.sub[i].pulseSigns));
    } else {
        for (int i = 0; i < kSubframes; ++i)
            w.Write(12, Field(params.sub[i].pulsePositions));
        for (int i = 0; i < kSubframes; ++i)
            w.Write(4, Field(params.sub[i].pulseSigns));
    }
}

}  // namespace mervox::reference
