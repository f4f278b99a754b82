#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "mervox.h"

namespace mervox::test {

std::string DataPath(const std::string& relative) { return std::string(MERVOX_TEST_DATA_DIR) + "/" + relative; }

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<StreamFrame> SplitStream(const std::vector<uint8_t>& stream)
{
    std::vector<StreamFrame> frames;
    size_t offset = 0;
    while (offset < stream.size()) {
        const int type = stream[offset] & 3;
        const size_t length = mervox_frame_bytes(stream[offset]);
        if (offset + length > stream.size())
            break;
        frames.push_back({offset, length, type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300});
        offset += length;
    }
    return frames;
}

std::vector<int16_t> DecodeWithLegacyApi(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& lossMask,
                                         int32_t init)
{
    const std::vector<StreamFrame> frames = SplitStream(stream);
    std::vector<int16_t> pcm(frames.size() * MERVOX_FRAME_SAMPLES);
    INITdec(init);
    for (size_t k = 0; k < frames.size(); ++k) {
        const bool lost = !frames[k].speech || (k < lossMask.size() && lossMask[k] != 0);
        DecSoundFrame(lost ? nullptr : stream.data() + frames[k].offset, pcm.data() + MERVOX_FRAME_SAMPLES * k);
    }
    return pcm;
}

uint64_t Fnv1a64(const std::vector<int16_t>& samples)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (int16_t s : samples) {
        const uint16_t u = static_cast<uint16_t>(s);
        for (uint8_t byte : {static_cast<uint8_t>(u & 0xff), static_cast<uint8_t>(u >> 8)}) {
            h ^= byte;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

}  // namespace mervox::test
