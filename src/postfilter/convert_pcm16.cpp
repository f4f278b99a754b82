#include "postfilter/postfilter.h"

#include "codec_facts.h"

namespace mervox {

void ConvertToPcm16(int16_t output[kFrameLength], const float input[kFrameLength])
{
    for (int i = 0; i < kFrameLength; ++i) {
        const double v = input[i];
        if (v >= 0.0)
            output[i] = v > 32766.5 ? int16_t{32767} : static_cast<int16_t>(v + 0.5);
        else if (v < 0.0)
            output[i] = v < -32767.5 ? int16_t{-32768} : static_cast<int16_t>(v - 0.5);
        else
            output[i] = 0;  // NaN: no meaningful sample; never convert it
    }
}

}  // namespace mervox
