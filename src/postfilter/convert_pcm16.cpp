#include "postfilter/postfilter.h"

#include "codec_facts.h"
#include "postfilter/pcm16_convert.h"

namespace mervox {

// Branch-free where the processor allows: the sign of speech samples is as
// unpredictable as a coin, and a mispredicted branch per sample costs more
// than the conversion.
void ConvertToPcm16(int16_t output[kFrameLength], const float input[kFrameLength])
{
    for (int i = 0; i < kFrameLength; i += 4)
        ConvertPcm16Quad(output + i, input + i);
}

}  // namespace mervox
