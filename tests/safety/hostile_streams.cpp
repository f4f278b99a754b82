#include "hostile_streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "test_support.h"

namespace mervox::test {
namespace {

struct BitWriter {
    std::vector<uint8_t> bytes;
    int position = 0;
    void Put(int value, int bits)
    {
        for (int i = 0; i < bits; ++i, ++position)
            if ((value >> i) & 1)
                bytes[position >> 3] |= static_cast<uint8_t>(1u << (position & 7));
    }
};

}  // namespace

std::vector<uint8_t> RunawayFrame()
{
    BitWriter w{std::vector<uint8_t>(20)};
    w.Put(1, 2);        // type 1: 5.3 kbit/s
    w.Put(0, 24);       // LSP indices
    w.Put(60 - 18, 7);  // open-loop lag 60
    w.Put(1, 2);        // lag offset 1
    w.Put(60 - 18, 7);
    w.Put(1, 2);
    for (int i = 0; i < 4; ++i)
        w.Put(169 * 24 + 23, 12);
    return w.bytes;  // grid, positions and signs all zero
}

bool StateIsFresh(const DecoderState& s)
{
    DecoderState fresh;
    return s.erasureCount == fresh.erasureCount && s.noiseSeed == fresh.noiseSeed && s.concealLag == fresh.concealLag &&
           s.concealGain == fresh.concealGain && s.postfilterTilt == fresh.postfilterTilt &&
           std::memcmp(s.prevLsp, fresh.prevLsp, sizeof s.prevLsp) == 0 &&
           std::memcmp(s.excitation, fresh.excitation, sizeof s.excitation) == 0 &&
           std::memcmp(s.synthesisMemory, fresh.synthesisMemory, sizeof s.synthesisMemory) == 0 &&
           std::memcmp(s.postfilterMemory, fresh.postfilterMemory, sizeof s.postfilterMemory) == 0;
}

std::vector<uint8_t> CorpusFrames53(size_t first, size_t count)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.53.bit"));
    const size_t begin = first * 20;
    const size_t end = std::min(stream.size(), begin + count * 20);
    return std::vector<uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(std::min(begin, end)),
                                stream.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<int16_t> DecodeFrames(Channel& channel, const std::vector<uint8_t>& frames)
{
    std::vector<int16_t> pcm;
    int16_t out[kFrameLength];
    for (size_t offset = 0; offset < frames.size() && offset + RateFrameBytes(frames[offset]) <= frames.size();
         offset += RateFrameBytes(frames[offset])) {
        DecodeChannelFrame(channel, frames.data() + offset, out);
        pcm.insert(pcm.end(), out, out + kFrameLength);
    }
    return pcm;
}

}  // namespace mervox::test
