/* The decoder-object API used from plain C: decodes `count` frames laid
 * out back to back (types 2 and 3 concealed) into pcm. Returns the number
 * of frames or a negative error. */
#include <stddef.h>

#include "mervox.h"

int mervox_test_decode_from_c(const uint8_t* stream, size_t size, int16_t* pcm, size_t maxFrames)
{
    size_t offset = 0, frames = 0;
    int error = 0;
    mervox_decoder* decoder = mervox_decoder_create(MERVOX_RATE_SELECT_6300, &error);
    if (!decoder)
        return error;
    while (frames < maxFrames && offset < size && offset + mervox_frame_bytes(stream[offset]) <= size) {
        const size_t length = mervox_frame_bytes(stream[offset]);
        const int type = stream[offset] & 3;
        const int speech = type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300;
        int16_t* out = pcm + MERVOX_FRAME_SAMPLES * frames;
        const int r =
            speech ? mervox_decode(decoder, stream + offset, size - offset, out) : mervox_conceal(decoder, out);
        if (r < 0) {
            mervox_decoder_destroy(decoder);
            return r;
        }
        offset += length;
        ++frames;
    }
    mervox_decoder_destroy(decoder);
    return (int)frames;
}
