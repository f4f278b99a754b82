#include "bitstream/bitstream.h"

#include "dimensions.h"

namespace mervox {
namespace {

constexpr int kMaxFrameBits = 192;
constexpr int kLagCodeLimit = 124;  // codes 124..127 name no lag
constexpr int kMinLag = 18;

int ReadOpenLoopLag(BitCursor& cursor, FrameParams& params)
{
    int code = ReadBits(cursor, 7);
    if (code >= kLagCodeLimit) {
        params.badFrame += 1;
        return code;
    }
    return code + kMinLag;
}

void ReadGainWord(BitCursor& cursor, FrameParams& params, int subframe, int rate)
{
    SubframeParams& sub = params.sub[subframe];
    int word = ReadBits(cursor, 12);
    int rows = 170;
    sub.trainFlag = 0;
    if (rate == kRate63 && params.openLoopLag[subframe / 2] < 58) {
        sub.trainFlag = word >> 11;
        word &= 0x7ff;
        rows = 85;
    }
    sub.gainIndex = word / 24;
    sub.ampIndex = word % 24;
    if (sub.gainIndex == rows)
        params.badFrame += 1;
}

void ReadMultipulseFields(BitCursor& cursor, FrameParams& params)
{
    ReadBits(cursor, 1);  // reserved bit 96
    int combined = ReadBits(cursor, 13);
    const int high[4] = {combined / 810, (combined / 90) % 9, (combined % 90) / 9, combined % 9};
    for (int i = 0; i < 4; ++i) {
        int lowBits = (i % 2 == 0) ? 16 : 14;
        params.sub[i].pulsePositions = (high[i] << lowBits) + ReadBits(cursor, lowBits);
    }
    for (int i = 0; i < 4; ++i)
        params.sub[i].pulseSigns = ReadBits(cursor, (i % 2 == 0) ? 6 : 5);
}

void ReadAlgebraicFields(BitCursor& cursor, FrameParams& params)
{
    for (int i = 0; i < 4; ++i)
        params.sub[i].pulsePositions = ReadBits(cursor, 12);
    for (int i = 0; i < 4; ++i)
        params.sub[i].pulseSigns = ReadBits(cursor, 4);
}

}  // namespace

int ReadBits(BitCursor& cursor, int n)
{
    int value = 0;
    for (int i = 0; i < n; ++i)
        value |= cursor.bits[cursor.position + i] << i;
    cursor.position += n;
    return value;
}

int UnpackFrame(FrameParams& params, const uint8_t* frame, int rate, int erasureFlag)
{
    params.badFrame = erasureFlag;

    // Types 2 and 3 (silence descriptor, untransmitted) carry no speech: they
    // are read with the layout of their rate, from bit 0 of the type, and
    // concealed.
    const int type = frame[0] & 3;
    const int length = (type & 1) ? 20 : 24;
    if (type > 1)
        params.badFrame += 1;

    uint8_t bits[kMaxFrameBits] = {};
    for (int i = 0; i < length * 8; ++i)
        bits[i] = (frame[i >> 3] >> (i & 7)) & 1;

    BitCursor cursor{bits, 2};
    params.lspIndex[2] = ReadBits(cursor, 8);
    params.lspIndex[1] = ReadBits(cursor, 8);
    params.lspIndex[0] = ReadBits(cursor, 8);

    params.openLoopLag[0] = ReadOpenLoopLag(cursor, params);
    params.sub[1].lagOffset = ReadBits(cursor, 2);
    params.openLoopLag[1] = ReadOpenLoopLag(cursor, params);
    params.sub[3].lagOffset = ReadBits(cursor, 2);
    params.sub[0].lagOffset = 1;
    params.sub[2].lagOffset = 1;

    for (int i = 0; i < 4; ++i)
        ReadGainWord(cursor, params, i, rate);
    for (int i = 0; i < 4; ++i)
        params.sub[i].grid = ReadBits(cursor, 1);

    if (rate == kRate63)
        ReadMultipulseFields(cursor, params);
    else
        ReadAlgebraicFields(cursor, params);
    return length;
}

}  // namespace mervox
