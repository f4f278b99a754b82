// The Wireshark codec callbacks called as the RTP player and sharkd call
// them: a size query, then a decode into a buffer of the size it answered,
// once per RTP payload.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "g723_codec.h"
#include "mervox.h"
#include "test_support.h"

namespace mervox::test {
namespace {

constexpr size_t kFrameBytesOut = MERVOX_WIRESHARK_FRAME_OUTPUT_BYTES;
using Payload = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;

struct ContextDeleter {
    void operator()(void* context) const { mervox_ws_codec_release(context); }
};
using Context = std::unique_ptr<void, ContextDeleter>;

Context NewContext()
{
    Context context(mervox_ws_codec_init());
    EXPECT_NE(context.get(), nullptr);
    return context;
}

size_t QuerySize(void* context, const Payload& payload)
{
    return mervox_ws_codec_decode(context, payload.data(), payload.size(), nullptr, nullptr);
}

// Query, then decode into a heap buffer of exactly the answered size (so
// the sanitizers see any write past it); checks the three sizes agree.
Pcm DecodePayload(void* context, const Payload& payload)
{
    const size_t bytes = QuerySize(context, payload);
    EXPECT_EQ(bytes % kFrameBytesOut, 0u);
    std::vector<int16_t> out(bytes / sizeof(int16_t));
    size_t outSize = bytes;
    const size_t written =
        mervox_ws_codec_decode(context, payload.data(), payload.size(), out.empty() ? nullptr : out.data(), &outSize);
    EXPECT_EQ(written, bytes);
    EXPECT_EQ(outSize, bytes);
    return out;
}

void Append(Pcm& all, const Pcm& more) { all.insert(all.end(), more.begin(), more.end()); }

// One frame of a corpus stream file.
Payload FrameOf(const std::vector<uint8_t>& stream, const StreamFrame& frame)
{
    return Payload(stream.begin() + static_cast<long>(frame.offset),
                   stream.begin() + static_cast<long>(frame.offset + frame.length));
}

// The first frame of the given type in a corpus stream.
Payload FirstFrameOfType(const char* file, int type)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath(std::string("corpus/") + file));
    for (const StreamFrame& frame : SplitStream(stream)) {
        if ((stream[frame.offset] & 3) == type && frame.offset > 0)
            return FrameOf(stream, frame);
    }
    ADD_FAILURE() << "no frame of type " << type << " in " << file;
    return {};
}

// What mervox's own API gives for a sequence of frames: speech frames
// decoded, others (types 2/3, or empty = cut short) concealed.
class Reference {
public:
    Reference() : decoder_(mervox_decoder_create(MERVOX_RATE_SELECT_6300, nullptr)) {}
    ~Reference() { mervox_decoder_destroy(decoder_); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    Pcm Decode(const Payload& frame)
    {
        Pcm pcm(MERVOX_FRAME_SAMPLES);
        EXPECT_GT(mervox_decode(decoder_, frame.data(), frame.size(), pcm.data()), 1);
        return pcm;
    }
    Pcm Conceal()
    {
        Pcm pcm(MERVOX_FRAME_SAMPLES);
        EXPECT_EQ(mervox_conceal(decoder_, pcm.data()), 1);
        return pcm;
    }

private:
    mervox_decoder* decoder_;
};

Payload Concat(std::initializer_list<Payload> parts)
{
    Payload all;
    for (const Payload& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

uint64_t RecordedDigest(const std::string& name)
{
    std::ifstream in(DataPath("corpus/expected-digests.txt"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string entry, frames, hex;
        fields >> entry >> frames >> hex;
        if (entry == name)
            return std::stoull(hex, nullptr, 16);
    }
    ADD_FAILURE() << "no recorded digest for " << name;
    return 0;
}

std::string Hex(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// Whole corpus streams cut into payloads of 1, 2, 3 and 4 frames in turn,
// each queried twice before it is decoded: the samples are the recorded
// decode of the stream (SID and untransmitted frames concealed as lost).
class CorpusInPayloads : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusInPayloads, DecodesToTheRecordedOutput)
{
    const std::string name = GetParam();
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/" + name + ".bit"));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    ASSERT_FALSE(frames.empty());

    Context context = NewContext();
    Pcm all;
    size_t next = 0;
    for (size_t count = 1; next < frames.size(); count = count % 4 + 1) {
        const size_t end = std::min(frames.size(), next + count);
        const Payload payload(stream.begin() + static_cast<long>(frames[next].offset),
                              stream.begin() + static_cast<long>(frames[end - 1].offset + frames[end - 1].length));
        ASSERT_EQ(QuerySize(context.get(), payload), (end - next) * kFrameBytesOut);
        ASSERT_EQ(QuerySize(context.get(), payload), (end - next) * kFrameBytesOut);
        Append(all, DecodePayload(context.get(), payload));
        next = end;
    }
    ASSERT_EQ(all.size(), frames.size() * MERVOX_FRAME_SAMPLES);
    EXPECT_EQ(Hex(Fnv1a64(all)), Hex(RecordedDigest(name)));
}

INSTANTIATE_TEST_SUITE_P(WiresharkCodec, CorpusInPayloads,
                         ::testing::Values("speech-a.mixed", "speech-a.63-vad", "speech-a.53-vad"));

TEST(WiresharkCodec, MixedFrameTypesInOnePayload)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    const Payload f53 = FirstFrameOfType("speech-a.53.bit", MERVOX_FRAME_5300);
    const Payload sid = FirstFrameOfType("speech-a.63-vad.bit", MERVOX_FRAME_SID);
    const Payload none = FirstFrameOfType("speech-a.63-vad.bit", MERVOX_FRAME_UNTRANSMITTED);
    ASSERT_EQ(f63.size(), 24u);
    ASSERT_EQ(f53.size(), 20u);
    ASSERT_EQ(sid.size(), 4u);
    ASSERT_EQ(none.size(), 1u);

    Context context = NewContext();
    const Pcm got = DecodePayload(context.get(), Concat({f63, f53, sid, none, f53, f63}));

    Reference ref;
    Pcm want;
    Append(want, ref.Decode(f63));
    Append(want, ref.Decode(f53));
    Append(want, ref.Conceal());
    Append(want, ref.Conceal());
    Append(want, ref.Decode(f53));
    Append(want, ref.Decode(f63));
    EXPECT_EQ(got, want);
}

TEST(WiresharkCodec, SizeQueriesOfOtherPayloadsLeaveTheDecoderAlone)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    const Payload f53 = FirstFrameOfType("speech-a.53.bit", MERVOX_FRAME_5300);
    Context queried = NewContext();
    Context plain = NewContext();
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(QuerySize(queried.get(), Concat({f53, f53, f53})), 3 * kFrameBytesOut);
        // Either of output and its size missing makes a query.
        Pcm unused(MERVOX_FRAME_SAMPLES, 7);
        EXPECT_EQ(mervox_ws_codec_decode(queried.get(), f53.data(), f53.size(), unused.data(), nullptr),
                  kFrameBytesOut);
        EXPECT_EQ(unused, Pcm(MERVOX_FRAME_SAMPLES, 7));
        EXPECT_EQ(DecodePayload(queried.get(), f63), DecodePayload(plain.get(), f63));
    }
}

TEST(WiresharkCodec, EmptyPayloadYieldsNothingAndKeepsTheStream)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    Context context = NewContext();
    Pcm out(MERVOX_FRAME_SAMPLES, 7);
    size_t outSize = kFrameBytesOut;
    EXPECT_EQ(mervox_ws_codec_decode(context.get(), f63.data(), 0, nullptr, nullptr), 0u);
    EXPECT_EQ(mervox_ws_codec_decode(context.get(), f63.data(), 0, out.data(), &outSize), 0u);
    EXPECT_EQ(outSize, 0u);
    outSize = kFrameBytesOut;
    EXPECT_EQ(mervox_ws_codec_decode(context.get(), nullptr, 5, out.data(), &outSize), 0u);
    EXPECT_EQ(out, Pcm(MERVOX_FRAME_SAMPLES, 7));

    Reference ref;
    EXPECT_EQ(DecodePayload(context.get(), f63), ref.Decode(f63));
}

TEST(WiresharkCodec, TruncatedPayloadDecodesWholeFramesAndConcealsTheCutOne)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    const Payload f53 = FirstFrameOfType("speech-a.53.bit", MERVOX_FRAME_5300);
    const Payload sid = FirstFrameOfType("speech-a.63-vad.bit", MERVOX_FRAME_SID);
    for (const Payload& last : {f63, f53, sid}) {
        for (size_t cut = 1; cut < last.size(); ++cut) {
            SCOPED_TRACE(::testing::Message() << "last frame of " << last.size() << " bytes cut to " << cut);
            const Payload payload = Concat({f53, Payload(last.begin(), last.begin() + static_cast<long>(cut))});
            Context context = NewContext();
            Reference ref;
            Pcm want = ref.Decode(f53);
            Append(want, ref.Conceal());
            EXPECT_EQ(DecodePayload(context.get(), payload), want);
            // ... and the stream goes on from there.
            EXPECT_EQ(DecodePayload(context.get(), f63), ref.Decode(f63));
        }
    }
}

TEST(WiresharkCodec, EveryPrefixOfACorpusPayloadDecodesToItsQueriedSize)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63-vad.bit"));
    const Payload payload(stream.begin() + 2000, stream.begin() + 2300);
    Context context = NewContext();
    for (size_t size = 0; size <= payload.size(); ++size) {
        // A copy of exactly `size` bytes: reading past it is caught.
        const Payload prefix(payload.begin(), payload.begin() + static_cast<long>(size));
        DecodePayload(context.get(), prefix);
    }
}

TEST(WiresharkCodec, BufferSizedForAnotherPayloadIsNeverOverrun)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    const Payload f53 = FirstFrameOfType("speech-a.53.bit", MERVOX_FRAME_5300);
    const Payload three = Concat({f63, f53, f63});

    // A one-frame buffer (with a few spare bytes, not a whole frame) for a
    // three-frame payload: the first frame is written, all three are decoded.
    {
        Context context = NewContext();
        ASSERT_EQ(QuerySize(context.get(), f53), kFrameBytesOut);
        std::vector<int16_t> out(MERVOX_FRAME_SAMPLES + 100);
        size_t outSize = out.size() * sizeof(int16_t);
        EXPECT_EQ(mervox_ws_codec_decode(context.get(), three.data(), three.size(), out.data(), &outSize),
                  kFrameBytesOut);
        EXPECT_EQ(outSize, kFrameBytesOut);

        Reference ref;
        const Pcm first = ref.Decode(f63);
        EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
        EXPECT_TRUE(std::all_of(out.begin() + MERVOX_FRAME_SAMPLES, out.end(), [](int16_t s) { return s == 0; }));
        ref.Decode(f53);
        ref.Decode(f63);
        EXPECT_EQ(DecodePayload(context.get(), f53), ref.Decode(f53));
    }
    // A three-frame buffer for a one-frame payload: one frame written.
    {
        Context context = NewContext();
        ASSERT_EQ(QuerySize(context.get(), three), 3 * kFrameBytesOut);
        Pcm out(3 * MERVOX_FRAME_SAMPLES, 7);
        size_t outSize = 3 * kFrameBytesOut;
        EXPECT_EQ(mervox_ws_codec_decode(context.get(), f63.data(), f63.size(), out.data(), &outSize), kFrameBytesOut);
        EXPECT_EQ(outSize, kFrameBytesOut);
        Reference ref;
        EXPECT_EQ(Pcm(out.begin(), out.begin() + MERVOX_FRAME_SAMPLES), ref.Decode(f63));
        EXPECT_EQ(Pcm(out.begin() + MERVOX_FRAME_SAMPLES, out.end()), Pcm(2 * MERVOX_FRAME_SAMPLES, 7));
    }
    // No room for a frame at all.
    {
        Context context = NewContext();
        int16_t out[10] = {};
        size_t outSize = sizeof out;
        EXPECT_EQ(mervox_ws_codec_decode(context.get(), f63.data(), f63.size(), out, &outSize), 0u);
        EXPECT_EQ(outSize, 0u);
    }
}

// A payload of more frames than the limit: the first ones are decoded, the
// rest left out (not even concealed), and the next payload follows the
// last frame decoded, so a packet of 1-byte frames cannot ask for hours.
TEST(WiresharkCodec, FramesBeyondTheLimitPerPayloadAreLeftOut)
{
    constexpr size_t kLimit = MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD;
    const Payload none = FirstFrameOfType("speech-a.63-vad.bit", MERVOX_FRAME_UNTRANSMITTED);
    ASSERT_EQ(none.size(), 1u);
    {
        Context context = NewContext();
        const Payload flood(1400, none[0]);
        EXPECT_EQ(QuerySize(context.get(), flood), kLimit * kFrameBytesOut);
        EXPECT_EQ(DecodePayload(context.get(), flood).size(), kLimit * MERVOX_FRAME_SAMPLES);
    }

    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63.bit"));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    ASSERT_GT(frames.size(), kLimit + 11);
    const Payload over(stream.begin() + static_cast<long>(frames[100].offset),
                       stream.begin() + static_cast<long>(frames[100 + kLimit + 10].offset));
    Context context = NewContext();
    Reference ref;
    Pcm want;
    for (size_t k = 100; k < 100 + kLimit; ++k)
        Append(want, ref.Decode(FrameOf(stream, frames[k])));
    EXPECT_EQ(DecodePayload(context.get(), over), want);
    const Payload next = FrameOf(stream, frames[100 + kLimit + 10]);
    EXPECT_EQ(DecodePayload(context.get(), next), ref.Decode(next));
}

TEST(WiresharkCodec, ContextsAreIndependentStreams)
{
    const std::vector<uint8_t> s63 = ReadFileBytes(DataPath("corpus/speech-a.63.bit"));
    const std::vector<uint8_t> s53 = ReadFileBytes(DataPath("corpus/speech-a.53.bit"));
    const std::vector<StreamFrame> frames63 = SplitStream(s63);
    const std::vector<StreamFrame> frames53 = SplitStream(s53);
    Context a = NewContext();
    Context b = NewContext();
    Pcm pcmA, pcmB;
    for (size_t k = 0; k < frames63.size() || k < frames53.size(); ++k) {
        if (k < frames63.size())
            Append(pcmA, DecodePayload(a.get(), FrameOf(s63, frames63[k])));
        if (k < frames53.size())
            Append(pcmB, DecodePayload(b.get(), FrameOf(s53, frames53[k])));
    }
    EXPECT_EQ(Hex(Fnv1a64(pcmA)), Hex(RecordedDigest("speech-a.63")));
    EXPECT_EQ(Hex(Fnv1a64(pcmB)), Hex(RecordedDigest("speech-a.53")));
}

TEST(WiresharkCodec, NullContextYieldsNothing)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    Pcm out(MERVOX_FRAME_SAMPLES, 7);
    size_t outSize = kFrameBytesOut;
    EXPECT_EQ(mervox_ws_codec_decode(nullptr, f63.data(), f63.size(), nullptr, nullptr), 0u);
    EXPECT_EQ(mervox_ws_codec_decode(nullptr, f63.data(), f63.size(), out.data(), &outSize), 0u);
    EXPECT_EQ(outSize, 0u);
    EXPECT_EQ(out, Pcm(MERVOX_FRAME_SAMPLES, 7));
    mervox_ws_codec_release(nullptr);
}

}  // namespace
}  // namespace mervox::test
