// Decoder objects for hosts that decode many streams: each one is a Channel
// of its own, allocated once at creation.
#include <cstring>
#include <new>

#include "bitstream/bitstream.h"

#include "interface/channel.h"
#include "interface/decode_many.h"
#include "mervox.h"

#ifndef MERVOX_VERSION_STRING
#error "MERVOX_VERSION_STRING must be defined by the build"
#endif

struct mervox_decoder {
    mervox::Channel channel;
};

namespace {

// Whether `size` bytes cover the length that bit 0 of the first byte
// announces (24 or 20), which is what the decoder copies.
bool FrameIsComplete(const uint8_t* frame, size_t size)
{
    return size >= 1 && size >= static_cast<size_t>(mervox::RateFrameBytes(frame[0]));
}

// mervox_decode_many with a given lane kernel: the entries in chunks of
// distinct decoders, each chunk decoded side by side. A decoder met again
// closes the chunk, so its frames are decoded in the order given.
int DecodeMany(mervox_decoder* const* decoders, const uint8_t* const* frames, const size_t* sizes, int16_t* pcm,
               int* results, size_t n, mervox::LaneVariant variant)
{
    using mervox::kMaxChannelBatch;
    mervox::Channel* channels[kMaxChannelBatch];
    const uint8_t* chunkFrames[kMaxChannelBatch];
    int16_t* outputs[kMaxChannelBatch];
    int16_t words[kMaxChannelBatch];
    size_t entry[kMaxChannelBatch];
    // Chunks of a whole number of the kernel's lane groups, as large as fit.
    const int group = mervox::LaneGroupSize(variant);
    const int chunk = group > 0 && group <= kMaxChannelBatch ? kMaxChannelBatch / group * group : kMaxChannelBatch;
    int count = 0;
    auto flush = [&] {
        mervox::DecodeChannelFrames(channels, chunkFrames, outputs, words, count, variant);
        for (int j = 0; j < count; ++j)
            results[entry[j]] = words[j];
        count = 0;
    };

    int failed = 0;
    for (size_t k = 0; k < n; ++k) {
        mervox_decoder* decoder = decoders[k];
        const uint8_t* frame = frames ? frames[k] : nullptr;
        const int error = !decoder                                     ? MERVOX_BAD_ARG
                          : frame && !FrameIsComplete(frame, sizes[k]) ? MERVOX_INVALID_FRAME
                                                                       : MERVOX_OK;
        if (error != MERVOX_OK) {
            results[k] = error;
            ++failed;
            continue;
        }
        bool repeated = false;
        for (int j = 0; j < count; ++j)
            repeated = repeated || channels[j] == &decoder->channel;
        if (repeated || count == chunk)
            flush();
        channels[count] = &decoder->channel;
        chunkFrames[count] = frame;
        outputs[count] = pcm + MERVOX_FRAME_SAMPLES * k;
        entry[count] = k;
        ++count;
    }
    if (count > 0)
        flush();
    return failed;
}

}  // namespace

namespace mervox {

int DecodeManyWith(mervox_decoder* const* decoders, const uint8_t* const* frames, const size_t* sizes, int16_t* pcm,
                   int* results, size_t n, LaneVariant variant)
{
    if (n == 0)
        return 0;
    if (!decoders || !pcm || !results || (frames && !sizes))
        return MERVOX_BAD_ARG;
    return DecodeMany(decoders, frames, sizes, pcm, results, n, variant);
}

}  // namespace mervox

extern "C" {

MERVOX_API const char* mervox_version_string(void) { return MERVOX_VERSION_STRING; }

MERVOX_API size_t mervox_frame_bytes(uint8_t first_byte) { return mervox::kFrameBytesByType[first_byte & 3]; }

MERVOX_API int mervox_frame_is_speech(uint8_t first_byte) { return (first_byte & 3) <= MERVOX_FRAME_5300 ? 1 : 0; }

MERVOX_API const char* mervox_strerror(int error)
{
    switch (error) {
    case MERVOX_OK:
        return "success";
    case MERVOX_BAD_ARG:
        return "invalid argument";
    case MERVOX_INVALID_FRAME:
        return "frame shorter than its type announces";
    case MERVOX_ALLOC_FAIL:
        return "out of memory";
    default:
        return error > 0 ? "success" : "unknown error";
    }
}

MERVOX_API mervox_decoder* mervox_decoder_create(int32_t rate_selector, int* error)
{
    mervox_decoder* decoder = new (std::nothrow) mervox_decoder;
    if (error)
        *error = decoder ? MERVOX_OK : MERVOX_ALLOC_FAIL;
    if (decoder)
        mervox::ResetChannel(decoder->channel, rate_selector);
    return decoder;
}

MERVOX_API int mervox_decoder_reset(mervox_decoder* decoder, int32_t rate_selector)
{
    if (!decoder)
        return MERVOX_BAD_ARG;
    mervox::ResetChannel(decoder->channel, rate_selector);
    return MERVOX_OK;
}

MERVOX_API int mervox_decode(mervox_decoder* decoder, const uint8_t* frame, size_t size, int16_t* pcm)
{
    if (!decoder || !pcm)
        return MERVOX_BAD_ARG;
    if (frame && !FrameIsComplete(frame, size))
        return MERVOX_INVALID_FRAME;
    return mervox::DecodeChannelFrame(decoder->channel, frame, pcm);
}

MERVOX_API int mervox_conceal(mervox_decoder* decoder, int16_t* pcm)
{
    if (!decoder || !pcm)
        return MERVOX_BAD_ARG;
    return mervox::DecodeChannelFrame(decoder->channel, nullptr, pcm);
}

MERVOX_API int MERVOX_CDECL mervox_decode_many(mervox_decoder* const* decoders, const uint8_t* const* frames,
                                               const size_t* sizes, int16_t* pcm, int* results, size_t n)
{
    return mervox::DecodeManyWith(decoders, frames, sizes, pcm, results, n, mervox::BestLaneVariant());
}

MERVOX_API void mervox_decoder_destroy(mervox_decoder* decoder) { delete decoder; }

MERVOX_API int mervox_frame_faults(const uint8_t* frame, size_t size)
{
    if (!frame)
        return MERVOX_BAD_ARG;
    // A silence descriptor or an untransmitted frame carries no speech: one
    // fault for its type, once its own (4 or 1) bytes are there.
    const int type = size >= 1 ? frame[0] & 3 : -1;
    if (type == MERVOX_FRAME_SID || type == MERVOX_FRAME_UNTRANSMITTED)
        return size >= mervox_frame_bytes(frame[0]) ? 1 : MERVOX_INVALID_FRAME;
    if (!FrameIsComplete(frame, size))
        return MERVOX_INVALID_FRAME;
    // The same private 24-byte copy the decoder unpacks from.
    uint8_t copy[mervox::kMaxFrameBytes] = {};
    std::memcpy(copy, frame, mervox::RateFrameBytes(frame[0]));
    mervox::FrameParams params;
    mervox::UnpackFrame(params, copy, frame[0] & 1, 0);
    return params.badFrame;
}
}
