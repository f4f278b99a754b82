#include "interface/channel.h"

#include <cstring>

namespace mervox {

int16_t TakeChannelFrame(Channel& channel, const uint8_t* frame, int& badFlag)
{
    if (!frame) {
        std::memset(channel.frameBuffer, 0, sizeof channel.frameBuffer);
        badFlag = 1;
        return 1;
    }
    channel.currentRate = frame[0] & 1;
    const int bytes = RateFrameBytes(frame[0]);
    std::memcpy(channel.frameBuffer, frame, static_cast<size_t>(bytes));
    badFlag = 0;
    return static_cast<int16_t>(bytes / 2);
}

int16_t DecodeChannelFrame(Channel& channel, const uint8_t* frame, int16_t* output)
{
    int badFlag = 1;
    const int16_t words = TakeChannelFrame(channel, frame, badFlag);
    channel.state.DecodeFrame(channel.outputBuffer, channel.frameBuffer, channel.currentRate, badFlag,
                              channel.pitchVariant);
    std::memcpy(output, channel.outputBuffer, sizeof channel.outputBuffer);
    return words;
}

void ResetChannel(Channel& channel, int32_t selector)
{
    channel.currentRate = static_cast<int16_t>(selector) == 0 ? kRate53 : kRate63;
    channel.state.Reset();
}

}  // namespace mervox
