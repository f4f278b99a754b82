#include "postfilter/postfilter.h"

#include "codec_facts.h"
#include "postfilter/pcm16_convert.h"

namespace mervox {

// Without a branch on the sign (pcm16_round.h): a mispredicted branch per
// sample would cost more than the conversion.
void ConvertToPcm16(int16_t output[kFrameLength], const float input[kFrameLength])
{
    for (int i = 0; i < kFrameLength; i += 4)
        ConvertPcm16Quad(output + i, input + i);
}

}  // namespace mervox
