// Several channels' frames at once: each channel's frame is unpacked and
// its excitation built on its own, exactly as DecodeChannelFrame does; then
// the filters and the output conversion of all of them run side by side in
// SIMD lanes (filter_lanes.h); then each channel's histories move on.
#include "interface/channel.h"

namespace mervox {

void DecodeChannelFrames(Channel* const channels[], const uint8_t* const frames[], int16_t* const outputs[],
                         int16_t words[], int count, LaneVariant variant)
{
    // One stream alone gains nothing from lanes: the single-stream path,
    // whose filters run its other work in their shadow, is faster.
    if (count == 1) {
        words[0] = DecodeChannelFrame(*channels[0], frames[0], outputs[0]);
        return;
    }
    FrameWork work[kMaxChannelBatch];
    LaneStream lanes[kMaxChannelBatch] = {};
    for (int k = 0; k < count; ++k) {
        Channel& c = *channels[k];
        int badFlag = 1;
        words[k] = TakeChannelFrame(c, frames[k], badFlag);
        c.state.BeginFrame(work[k], c.frameBuffer, c.currentRate, badFlag, true, variant);
        // The lanes write each output where the caller wants it.
        lanes[k] = LaneStream{c.state.synthesisMemory, c.state.postfilterMemory,
                              work[k].pfExcitation,    work[k].lpc,
                              &c.state.postfilterTilt, outputs[k]};
    }
    FilterLanes(lanes, count, variant);
    for (int k = 0; k < count; ++k)
        channels[k]->state.AdvanceFrame(work[k].curLsp);
}

}  // namespace mervox
