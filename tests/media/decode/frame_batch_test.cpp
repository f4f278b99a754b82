// FrameBatch: one slot of each of several decoders in one batch call
// gives every decoder the samples and counts that FrameDecoder gives it on
// its own, whatever the grouping of the calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/frame_batch.h"
#include "stream/frame_splitter.h"
#include "test_support.h"

namespace mervox::media::decode {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> CorpusFrames(const std::string& name)
{
    const std::vector<uint8_t> stream = mervox::test::ReadFileBytes(mervox::test::DataPath("corpus/" + name));
    stream::FrameSplitter splitter;
    splitter.Push(stream.data(), stream.size());
    std::vector<Bytes> frames;
    stream::Frame f;
    while (splitter.Next(&f))
        frames.emplace_back(f.bytes, f.bytes + f.length);
    return frames;
}

FrameDecoder NewDecoder()
{
    base::Result<FrameDecoder> d = FrameDecoder::Create();
    EXPECT_TRUE(d.ok());
    return std::move(d.value());
}

// Seven streams of both rates, with silence descriptors and untransmitted
// frames, and every fifth slot of each missing (at another place in each).
// Calls take at most three entries, so a round of seven ends with a call of
// one, and each round starts at another stream.
TEST(FrameBatch, EveryDecoderAsAlone)
{
    const char* names[] = {"speech-a.63.bit",     "speech-a.53.bit",      "speech-a.mixed.bit", "speech-a.63-vad.bit",
                           "speech-a.53-vad.bit", "speech-a.63-enc2.bit", "speech-a.mixed.bit"};
    constexpr size_t kStreams = 7, kSlots = 400, kPerCall = 3;
    std::vector<std::vector<Bytes>> streams;
    for (const char* name : names)
        streams.push_back(CorpusFrames(name));
    auto slot = [&](size_t s, size_t k) -> const Bytes* {
        return (k + s) % 5 == 0 ? nullptr : &streams[s][k + 13 * s];  // the two mixed streams start apart
    };

    std::vector<std::vector<int16_t>> alone(kStreams), together(kStreams);
    std::vector<FrameDecoder> singles, batched;
    for (size_t s = 0; s < kStreams; ++s) {
        singles.push_back(NewDecoder());
        batched.push_back(NewDecoder());
        FramePcm pcm;
        for (size_t k = 0; k < kSlots; ++k) {
            if (const Bytes* frame = slot(s, k))
                singles[s].Decode(frame->data(), frame->size(), false, pcm);
            else
                singles[s].ConcealMissing(pcm);
            alone[s].insert(alone[s].end(), pcm.begin(), pcm.end());
        }
    }

    FrameBatch batch(kPerCall);
    for (size_t k = 0; k < kSlots; ++k) {
        for (size_t first = 0; first < kStreams; first += kPerCall) {
            std::vector<size_t> order;
            for (size_t i = first; i < std::min(first + kPerCall, kStreams); ++i)
                order.push_back((i + k) % kStreams);
            for (const size_t s : order) {
                if (const Bytes* frame = slot(s, k))
                    batch.Add(batched[s], frame->data(), frame->size());
                else
                    batch.AddMissing(batched[s]);
            }
            ASSERT_EQ(batch.size(), order.size());
            EXPECT_EQ(batch.full(), order.size() == kPerCall);
            batch.Decode();
            for (size_t e = 0; e < order.size(); ++e)
                together[order[e]].insert(together[order[e]].end(), batch.pcm(e), batch.pcm(e) + MERVOX_FRAME_SAMPLES);
            batch.Clear();
        }
    }

    for (size_t s = 0; s < kStreams; ++s) {
        SCOPED_TRACE(names[s]);
        EXPECT_TRUE(together[s] == alone[s]);
        const stream::StreamStats &a = singles[s].stats(), &b = batched[s].stats();
        EXPECT_EQ(b.frames, a.frames);
        EXPECT_EQ(b.lostFrames, a.lostFrames);
        EXPECT_EQ(b.rateSwitches, a.rateSwitches);
        for (int t = 0; t < stream::kFrameTypes; ++t)
            EXPECT_EQ(b.byType[t], a.byType[t]) << "type " << t;
    }
    // The streams hold what the test is about.
    EXPECT_GT(singles[3].stats().byType[static_cast<size_t>(stream::FrameType::kSilenceDescriptor)] +
                  singles[3].stats().byType[static_cast<size_t>(stream::FrameType::kUntransmitted)],
              0u);
    EXPECT_GT(singles[2].stats().rateSwitches, 0u);
}

// A speech frame cut short cannot be decoded: alone and in a batch it is
// concealed, so its slot holds samples like any lost frame's.
TEST(FrameBatch, CutFrameIsConcealedAloneAndInABatch)
{
    const std::vector<Bytes> frames = CorpusFrames("speech-a.63.bit");
    FrameDecoder concealing = NewDecoder(), single = NewDecoder(), batched = NewDecoder();
    FramePcm expected, alone;
    for (size_t k = 0; k < 20; ++k) {
        concealing.Decode(frames[k].data(), frames[k].size(), false, expected);
        single.Decode(frames[k].data(), frames[k].size(), false, alone);
        FrameBatch batch(1);
        batch.Add(batched, frames[k].data(), frames[k].size());
        batch.Decode();
    }
    const Bytes& next = frames[20];
    concealing.ConcealMissing(expected);
    alone.fill(0x5a5a);
    single.Decode(next.data(), next.size() - 1, false, alone);
    FrameBatch batch(1);
    batch.Add(batched, next.data(), next.size() - 1);
    batch.Decode();

    EXPECT_TRUE(alone == expected);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), batch.pcm(0)));
    EXPECT_EQ(single.stats().frames, 21u);
}

}  // namespace
}  // namespace mervox::media::decode
