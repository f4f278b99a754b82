#include "interface/channel.h"

#include <cstring>

namespace mervox {

int16_t DecodeChannelFrame(Channel& channel, const uint8_t* frame, int16_t* output)
{
    int16_t words = 1;
    int badFlag = 1;
    if (frame) {
        channel.currentRate = frame[0] & 1;
        const int bytes = FrameBytes(frame[0]);
        std::memcpy(channel.frameBuffer, frame, bytes);
        words = static_cast<int16_t>(bytes / 2);
        badFlag = 0;
    } else {
        std::memset(channel.frameBuffer, 0, sizeof channel.frameBuffer);
    }
    channel.state.DecodeFrame(channel.outputBuffer, channel.frameBuffer, channel.currentRate, badFlag);
    std::memcpy(output, channel.outputBuffer, sizeof channel.outputBuffer);
    return words;
}

void ResetChannel(Channel& channel, int32_t selector)
{
    channel.currentRate = static_cast<int16_t>(selector) == 0 ? kRate53 : kRate63;
    channel.state.Reset();
}

}  // namespace mervox
