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

Payload Concat(const std::vector<Payload>& parts)
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

// Three corpus streams at once, each in a context of its own, cut into
// payloads of 1, 2, 3 and 4 frames in turn and decoded in turn, each
// payload queried twice first (without an output, and without its size):
// each stream's samples are its recorded decode (SID and untransmitted
// frames concealed as lost), so neither the queries nor the other contexts
// change a stream.
TEST(WiresharkCodec, InterleavedCorpusStreamsDecodeToTheirRecordedOutput)
{
    struct Stream {
        std::string name;
        std::vector<uint8_t> bytes;
        std::vector<StreamFrame> frames;
        Context context = NewContext();
        size_t next = 0;
        size_t count = 1;
        Pcm pcm;
    };
    std::vector<Stream> streams(3);
    const char* names[] = {"speech-a.mixed", "speech-a.63-vad", "speech-a.53-vad"};
    for (size_t k = 0; k < streams.size(); ++k) {
        streams[k].name = names[k];
        streams[k].bytes = ReadFileBytes(DataPath("corpus/" + streams[k].name + ".bit"));
        streams[k].frames = SplitStream(streams[k].bytes);
        ASSERT_FALSE(streams[k].frames.empty());
    }
    for (bool more = true; more;) {
        more = false;
        for (Stream& s : streams) {
            if (s.next == s.frames.size())
                continue;
            more = true;
            const size_t end = std::min(s.frames.size(), s.next + s.count);
            const Payload payload(
                s.bytes.begin() + static_cast<long>(s.frames[s.next].offset),
                s.bytes.begin() + static_cast<long>(s.frames[end - 1].offset + s.frames[end - 1].length));
            ASSERT_EQ(QuerySize(s.context.get(), payload), (end - s.next) * kFrameBytesOut);
            // Either of output and its size missing makes a query.
            Pcm untouched(MERVOX_FRAME_SAMPLES, 7);
            ASSERT_EQ(
                mervox_ws_codec_decode(s.context.get(), payload.data(), payload.size(), untouched.data(), nullptr),
                (end - s.next) * kFrameBytesOut);
            ASSERT_EQ(untouched, Pcm(MERVOX_FRAME_SAMPLES, 7));
            Append(s.pcm, DecodePayload(s.context.get(), payload));
            s.next = end;
            s.count = s.count % 4 + 1;
        }
    }
    for (const Stream& s : streams) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(s.pcm.size(), s.frames.size() * MERVOX_FRAME_SAMPLES);
        EXPECT_EQ(Hex(Fnv1a64(s.pcm)), Hex(RecordedDigest(s.name)));
    }
}

// One payload: what it decodes to is its frames one by one through the
// library, speech decoded and the rest (SID, untransmitted, a last frame
// cut short) concealed, the frames beyond the limit left out (not even
// concealed); the payload after it continues the stream from the last
// frame decoded.
TEST(WiresharkCodec, PayloadsDecodeFrameByFrame)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    const Payload f53 = FirstFrameOfType("speech-a.53.bit", MERVOX_FRAME_5300);
    const Payload sid = FirstFrameOfType("speech-a.63-vad.bit", MERVOX_FRAME_SID);
    const Payload none = FirstFrameOfType("speech-a.63-vad.bit", MERVOX_FRAME_UNTRANSMITTED);
    ASSERT_EQ(f63.size(), 24u);
    ASSERT_EQ(f53.size(), 20u);
    ASSERT_EQ(sid.size(), 4u);
    ASSERT_EQ(none.size(), 1u);
    constexpr size_t kLimit = MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD;
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63.bit"));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    ASSERT_GT(frames.size(), 100 + kLimit + 10);

    struct Case {
        std::string name;
        Payload payload;
        std::vector<Payload> want;  // the frames decoded one by one; an empty one is concealed
    };
    std::vector<Case> cases = {
        {"every type", Concat({f63, f53, sid, none, f53, f63}), {f63, f53, {}, {}, f53, f63}},
        {"empty", {}, {}},
        {"1-byte frames beyond the limit", Payload(1400, none[0]), std::vector<Payload>(kLimit)},
    };
    Case over{"speech frames beyond the limit", {}, {}};
    for (size_t k = 100; k < 100 + kLimit + 10; ++k) {
        const Payload frame = FrameOf(stream, frames[k]);
        over.payload.insert(over.payload.end(), frame.begin(), frame.end());
        if (k < 100 + kLimit)
            over.want.push_back(frame);
    }
    cases.push_back(over);
    for (const Payload& last : {f63, f53, sid})
        for (size_t cut = 1; cut < last.size(); ++cut)
            cases.push_back({"last frame of " + std::to_string(last.size()) + " bytes cut to " + std::to_string(cut),
                             Concat({f53, sid, none, Payload(last.begin(), last.begin() + static_cast<long>(cut))}),
                             {f53, {}, {}, {}}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Context context = NewContext();
        Reference ref;
        Pcm want;
        for (const Payload& frame : c.want)
            Append(want, frame.empty() ? ref.Conceal() : ref.Decode(frame));
        EXPECT_EQ(DecodePayload(context.get(), c.payload), want);
        EXPECT_EQ(DecodePayload(context.get(), f63), ref.Decode(f63));
    }
}

// Calls that yield nothing: no context, no input, an empty payload. The
// output is left alone, its size set to 0, and a context goes on as if
// they had not been made.
TEST(WiresharkCodec, CallsWithoutAContextOrInputYieldNothing)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    Context context = NewContext();
    struct Case {
        const char* name;
        void* context;
        const void* input;
        size_t size;
    };
    const Case cases[] = {
        {"no context", nullptr, f63.data(), f63.size()},
        {"no input", context.get(), nullptr, 5},
        {"empty payload", context.get(), f63.data(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mervox_ws_codec_decode(c.context, c.input, c.size, nullptr, nullptr), 0u);
        Pcm out(MERVOX_FRAME_SAMPLES, 7);
        size_t outSize = kFrameBytesOut;
        EXPECT_EQ(mervox_ws_codec_decode(c.context, c.input, c.size, out.data(), &outSize), 0u);
        EXPECT_EQ(outSize, 0u);
        EXPECT_EQ(out, Pcm(MERVOX_FRAME_SAMPLES, 7));
    }
    Reference ref;
    EXPECT_EQ(DecodePayload(context.get(), f63), ref.Decode(f63));
    mervox_ws_codec_release(nullptr);
}

// A buffer sized for another payload: only the frames that fit in whole
// are written, nothing past them, and every frame is still decoded.
TEST(WiresharkCodec, BufferSizedForAnotherPayloadIsNeverOverrun)
{
    const Payload f63 = FirstFrameOfType("speech-a.63.bit", MERVOX_FRAME_6300);
    const Payload f53 = FirstFrameOfType("speech-a.53.bit", MERVOX_FRAME_5300);
    struct Case {
        const char* name;
        std::vector<Payload> frames;
        size_t roomSamples;
    };
    const Case cases[] = {
        {"room for one frame and a bit, three frames", {f63, f53, f63}, MERVOX_FRAME_SAMPLES + 100},
        {"room for three frames, one frame", {f63}, 3 * MERVOX_FRAME_SAMPLES},
        {"no room for a frame", {f63, f53}, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Context context = NewContext();
        Reference ref;
        Pcm want;
        for (const Payload& frame : c.frames)
            Append(want, ref.Decode(frame));
        const size_t fit = std::min(c.frames.size(), c.roomSamples / MERVOX_FRAME_SAMPLES);
        want.resize(fit * MERVOX_FRAME_SAMPLES);
        want.resize(c.roomSamples, 7);

        Pcm out(c.roomSamples, 7);
        size_t outSize = c.roomSamples * sizeof(int16_t);
        const Payload payload = Concat(c.frames);
        EXPECT_EQ(mervox_ws_codec_decode(context.get(), payload.data(), payload.size(), out.data(), &outSize),
                  fit * kFrameBytesOut);
        EXPECT_EQ(outSize, fit * kFrameBytesOut);
        EXPECT_EQ(out, want);
        EXPECT_EQ(DecodePayload(context.get(), f53), ref.Decode(f53));
    }
}

}  // namespace
}  // namespace mervox::test
