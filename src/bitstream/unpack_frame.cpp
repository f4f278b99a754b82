#include "bitstream/bitstream.h"

#include "codec_facts.h"

namespace mervox {
namespace {

// The frame's fields, read in order straight from the bytes: bit i of the
// frame is bit i % 8 of byte i / 8, and a field's first bit is its least
// significant, so an n-bit field (n <= 16) at bit p is bits p % 8 .. p % 8 + n - 1 of the
// three bytes from p / 8 on, taken as a little-endian number. Bytes past the
// frame's length read as zero.
class FrameReader {
public:
    FrameReader(const uint8_t* frame, int length, int position) : position_(position)
    {
        for (int i = 0; i < length; ++i)
            bytes_[i] = frame[i];
    }

    int Read(int n)
    {
        const uint8_t* b = bytes_ + (position_ >> 3);
        const uint32_t window = b[0] | (b[1] << 8) | (static_cast<uint32_t>(b[2]) << 16);
        const int value = static_cast<int>((window >> (position_ & 7)) & ((1u << n) - 1));
        position_ += n;
        return value;
    }

private:
    uint8_t bytes_[kMaxFrameBytes + 2] = {};  // two more for the last field's window
    int position_;
};

int ReadOpenLoopLag(FrameReader& reader, FrameParams& params)
{
    int code = reader.Read(7);
    if (code >= kLagCodeLimit) {
        params.badFrame += 1;
        return code;
    }
    return code + kMinLag;
}

void ReadGainWord(FrameReader& reader, FrameParams& params, int subframe, int rate)
{
    SubframeParams& sub = params.sub[subframe];
    int word = reader.Read(12);
    int rows = kPitchTapRowsLong;
    sub.trainFlag = 0;
    if (rate == kRate63 && params.openLoopLag[subframe / 2] < kShortLagLimit) {
        sub.trainFlag = word >> 11;
        word &= 0x7ff;
        rows = kPitchTapRowsShort;
    }
    sub.gainIndex = word / kFixedGains;
    sub.ampIndex = word % kFixedGains;
    if (sub.gainIndex == rows)
        params.badFrame += 1;
}

void ReadMultipulseFields(FrameReader& reader, FrameParams& params)
{
    reader.Read(1);  // reserved bit 96
    int combined = reader.Read(13);
    const int high[4] = {combined / 810, (combined / 90) % 9, (combined % 90) / 9, combined % 9};
    for (int i = 0; i < 4; ++i) {
        int lowBits = (i % 2 == 0) ? 16 : 14;
        params.sub[i].pulsePositions = (high[i] << lowBits) + reader.Read(lowBits);
    }
    for (int i = 0; i < 4; ++i)
        params.sub[i].pulseSigns = reader.Read((i % 2 == 0) ? 6 : 5);
}

void ReadAlgebraicFields(FrameReader& reader, FrameParams& params)
{
    for (int i = 0; i < 4; ++i)
        params.sub[i].pulsePositions = reader.Read(12);
    for (int i = 0; i < 4; ++i)
        params.sub[i].pulseSigns = reader.Read(4);
}

}  // namespace

int UnpackFrame(FrameParams& params, const uint8_t* frame, int rate, int erasureFlag)
{
    params.badFrame = erasureFlag;

    // Types 2 and 3 (silence descriptor, untransmitted) carry no speech: they
    // are read with the layout of their rate, from bit 0 of the type, and
    // concealed.
    const int type = frame[0] & 3;
    const int length = RateFrameBytes(frame[0]);
    if (type > 1)
        params.badFrame += 1;

    FrameReader reader(frame, length, 2);
    params.lspIndex[2] = reader.Read(8);
    params.lspIndex[1] = reader.Read(8);
    params.lspIndex[0] = reader.Read(8);

    params.openLoopLag[0] = ReadOpenLoopLag(reader, params);
    params.sub[1].lagOffset = reader.Read(2);
    params.openLoopLag[1] = ReadOpenLoopLag(reader, params);
    params.sub[3].lagOffset = reader.Read(2);
    params.sub[0].lagOffset = 1;
    params.sub[2].lagOffset = 1;

    for (int i = 0; i < kSubframes; ++i)
        ReadGainWord(reader, params, i, rate);
    for (int i = 0; i < kSubframes; ++i)
        params.sub[i].grid = reader.Read(1);

    if (rate == kRate63)
        ReadMultipulseFields(reader, params);
    else
        ReadAlgebraicFields(reader, params);
    return length;
}

}  // namespace mervox
