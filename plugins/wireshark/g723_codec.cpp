// Wireshark's view of the decoder: one mervox_decoder per codec context,
// RTP payloads split into frames by their type bits.
#include "g723_codec.h"

#include <cstdint>
#include <cstring>

#include "mervox.h"

namespace {

static_assert(MERVOX_WIRESHARK_FRAME_OUTPUT_BYTES == MERVOX_FRAME_SAMPLES * sizeof(int16_t),
              "a frame's output is 240 16-bit samples");

// Frames that start in the payload (the last one possibly cut short), up
// to the limit per payload: those after it are left out.
size_t CountFrames(const uint8_t* payload, size_t size)
{
    size_t frames = 0;
    for (size_t offset = 0; offset < size && frames < MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD;
         offset += mervox_frame_bytes(payload[offset]))
        ++frames;
    return frames;
}

// Decodes the frame at payload[offset] (or conceals it: no speech in it,
// or not all of it in the payload) into pcm.
void DecodeFrame(mervox_decoder* decoder, const uint8_t* payload, size_t size, size_t offset, int16_t* pcm)
{
    const uint8_t* frame = payload + offset;
    if (!mervox_frame_is_speech(frame[0]) || mervox_decode(decoder, frame, size - offset, pcm) < 0)
        mervox_conceal(decoder, pcm);
}

}  // namespace

extern "C" {

void* mervox_ws_codec_init(void) { return mervox_decoder_create(MERVOX_RATE_SELECT_6300, nullptr); }

void mervox_ws_codec_release(void* context) { mervox_decoder_destroy(static_cast<mervox_decoder*>(context)); }

unsigned mervox_ws_codec_get_channels(void*) { return 1; }

unsigned mervox_ws_codec_get_frequency(void*) { return MERVOX_SAMPLE_RATE; }

size_t mervox_ws_codec_decode(void* context, const void* input, size_t input_size, void* output, size_t* output_size)
{
    auto* decoder = static_cast<mervox_decoder*>(context);
    const auto* payload = static_cast<const uint8_t*>(input);
    if (!decoder || !payload) {
        if (output && output_size)
            *output_size = 0;
        return 0;
    }
    const size_t frames = CountFrames(payload, input_size);
    if (!output || !output_size)
        return frames * MERVOX_WIRESHARK_FRAME_OUTPUT_BYTES;

    // The host sizes the buffer from the query on this same payload; should
    // it be short, the frames that do not fit are still decoded (and
    // dropped) so the next payload continues the stream.
    const size_t room = *output_size / MERVOX_WIRESHARK_FRAME_OUTPUT_BYTES;
    auto* out = static_cast<unsigned char*>(output);
    size_t written = 0;
    size_t offset = 0;
    for (size_t k = 0; k < frames; ++k) {
        int16_t pcm[MERVOX_FRAME_SAMPLES];
        DecodeFrame(decoder, payload, input_size, offset, pcm);
        offset += mervox_frame_bytes(payload[offset]);
        if (k < room) {
            std::memcpy(out + written, pcm, sizeof pcm);
            written += sizeof pcm;
        }
    }
    *output_size = written;
    return written;
}

}  // extern "C"
