// Input: a script for up to four decoder objects. Byte 0 picks how many
// (1..4); then each operation is one byte, d = bits 0-1 the decoder (modulo
// the count) and bits 2-4 what to do:
//   0-3 decode the next frame of the input, passing as size its announced
//       length (20 or 24 by bit 0) plus (kind - 1) bytes, kind 0 one byte
//       too few (while the input lasts)
//   4   conceal a lost frame        5 reset, selector from bits 5-7
//   6   mervox_frame_faults on the next frame
//   7   destroy the decoder and create it again, selector from bits 5-7
// Each decoder has a private mervox::Channel mirror that gets the same
// calls: results and samples must match, every sample must be written, a
// rejected frame must leave decoder and output untouched, and a decoder's
// calls must not affect the others.
#include <cstring>

#include "bitstream/bitstream.h"
#include "check.h"
#include "interface/channel.h"
#include "mervox.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

constexpr int kMaxDecoders = 4;

struct Pair {
    mervox_decoder* decoder = nullptr;
    Channel mirror;
};

void Create(Pair& p, int32_t selector)
{
    int error = 1;
    p.decoder = mervox_decoder_create(selector, &error);
    Require(p.decoder != nullptr && error == MERVOX_OK, "mervox_decoder_create failed");
    ResetChannel(p.mirror, selector);
}

void CheckSameOutput(int got, int want, const int16_t* a, const int16_t* b)
{
    Require(got == want, "mervox_decode/mervox_conceal result differs from the channel's");
    Require(std::memcmp(a, b, kFrameLength * sizeof(int16_t)) == 0, "samples differ or are not fully written");
}

void Decode(Pair& p, const uint8_t* frame, size_t size, size_t announced)
{
    int16_t pcm[kFrameLength];
    int16_t mirrored[kFrameLength];
    std::memset(pcm, 0x55, sizeof pcm);
    std::memset(mirrored, 0xaa, sizeof mirrored);
    const int got = mervox_decode(p.decoder, frame, size, pcm);
    if (size < announced) {
        Require(got == MERVOX_INVALID_FRAME, "a short frame is not rejected");
        int16_t untouched[kFrameLength];
        std::memset(untouched, 0x55, sizeof untouched);
        Require(std::memcmp(pcm, untouched, sizeof pcm) == 0, "a rejected frame wrote output");
        return;  // the mirror skips it too: the next calls show the decoder untouched
    }
    CheckSameOutput(got, DecodeChannelFrame(p.mirror, frame, mirrored), pcm, mirrored);
}

void Conceal(Pair& p)
{
    int16_t pcm[kFrameLength];
    int16_t mirrored[kFrameLength];
    std::memset(pcm, 0x55, sizeof pcm);
    std::memset(mirrored, 0xaa, sizeof mirrored);
    CheckSameOutput(mervox_conceal(p.decoder, pcm), DecodeChannelFrame(p.mirror, nullptr, mirrored), pcm, mirrored);
}

void CheckFaults(const uint8_t* frame, size_t size)
{
    const int faults = mervox_frame_faults(frame, size);
    const int type = frame[0] & 3;
    if (type == MERVOX_FRAME_SID || type == MERVOX_FRAME_UNTRANSMITTED) {
        // One fault for the type, once the type's own bytes are there.
        Require(faults == (size >= mervox_frame_bytes(frame[0]) ? 1 : MERVOX_INVALID_FRAME),
                "mervox_frame_faults miscounts a frame without speech");
        return;
    }
    if (size < static_cast<size_t>(RateFrameBytes(frame[0]))) {
        Require(faults == MERVOX_INVALID_FRAME, "mervox_frame_faults accepts a short frame");
        return;
    }
    uint8_t copy[24] = {};
    std::memcpy(copy, frame, RateFrameBytes(frame[0]));
    FrameParams params;
    UnpackFrame(params, copy, frame[0] & 1, 0);
    Require(faults == params.badFrame, "mervox_frame_faults disagrees with the unpacking");
}

void CheckNullArguments(Pair& p)
{
    int16_t pcm[kFrameLength];
    const uint8_t frame[24] = {};
    Require(mervox_decode(nullptr, frame, sizeof frame, pcm) == MERVOX_BAD_ARG, "decode(NULL decoder)");
    Require(mervox_decode(p.decoder, frame, sizeof frame, nullptr) == MERVOX_BAD_ARG, "decode(NULL pcm)");
    Require(mervox_conceal(nullptr, pcm) == MERVOX_BAD_ARG, "conceal(NULL decoder)");
    Require(mervox_conceal(p.decoder, nullptr) == MERVOX_BAD_ARG, "conceal(NULL pcm)");
    Require(mervox_decoder_reset(nullptr, 1) == MERVOX_BAD_ARG, "reset(NULL)");
    Require(mervox_frame_faults(nullptr, 24) == MERVOX_BAD_ARG, "frame_faults(NULL)");
    mervox_decoder_destroy(nullptr);
}

}  // namespace

int RunDecoderApi(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int count = 1 + data[0] % kMaxDecoders;
    Pair pairs[kMaxDecoders];
    for (int d = 0; d < count; ++d)
        Create(pairs[d], 1);
    CheckNullArguments(pairs[0]);

    size_t pos = 1;
    while (pos < size) {
        const uint8_t op = data[pos++];
        Pair& p = pairs[(op & 3) % count];
        const int kind = (op >> 2) & 7;
        const int32_t selector = op >> 5;
        if (kind == 4) {
            Conceal(p);
        } else if (kind == 5) {
            Require(mervox_decoder_reset(p.decoder, selector) == MERVOX_OK, "mervox_decoder_reset failed");
            ResetChannel(p.mirror, selector);
        } else if (kind == 7) {
            mervox_decoder_destroy(p.decoder);
            Create(p, selector);
        } else if (pos < size) {
            const size_t announced = RateFrameBytes(data[pos]);
            const size_t wanted = kind == 0 ? announced - 1 : announced + kind - 1;
            const size_t available = size - pos < wanted ? size - pos : wanted;
            // A private copy of exactly `available` bytes, so that ASan sees
            // any read past the size given.
            uint8_t* frame = new uint8_t[available];
            std::memcpy(frame, data + pos, available);
            if (kind == 6)
                CheckFaults(frame, available);
            else
                Decode(p, frame, available, announced);
            delete[] frame;
            pos += available;
        }
    }
    for (int d = 0; d < count; ++d)
        mervox_decoder_destroy(pairs[d].decoder);
    return 0;
}

}  // namespace mervox::fuzz
