// mervoxdec in a GstHarness: buffers of corpus frames go in as a depayloader
// hands them over, and every output buffer's size, timestamps and samples
// are compared with the library's own decoder fed the same frames.
#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mervox.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;
using mervox::test::StreamFrame;

constexpr GstClockTime kFrame = 30 * GST_MSECOND;
constexpr size_t kFramePcmBytes = MERVOX_FRAME_SAMPLES * sizeof(int16_t);
constexpr const char* kG723Caps = "audio/G723, rate=(int)8000, channels=(int)1";

// A corpus stream and its frames.
struct Stream {
    Bytes bytes;
    std::vector<StreamFrame> frames;

    // Frames [first, first + count) back to back, as one RTP payload.
    Bytes Payload(size_t first, size_t count) const
    {
        const size_t begin = frames.at(first).offset;
        const StreamFrame& last = frames.at(first + count - 1);
        return Bytes(bytes.begin() + static_cast<long>(begin),
                     bytes.begin() + static_cast<long>(last.offset + last.length));
    }
};

const Stream& Corpus(const std::string& name)
{
    static std::map<std::string, Stream> streams;
    auto found = streams.find(name);
    if (found == streams.end()) {
        Stream s;
        s.bytes = mervox::test::ReadFileBytes(mervox::test::DataPath("corpus/" + name));
        s.frames = mervox::test::SplitStream(s.bytes);
        found = streams.emplace(name, std::move(s)).first;
    }
    return found->second;
}

// What the element must produce: the library's decoder object, fed frame by
// frame as a host does (types 2 and 3 and missing frames concealed).
class Reference {
public:
    Reference() : decoder_(mervox_decoder_create(MERVOX_RATE_SELECT_6300, nullptr)) {}
    ~Reference() { mervox_decoder_destroy(decoder_); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    void Frames(const Stream& s, size_t first, size_t count)
    {
        for (size_t k = first; k < first + count; ++k) {
            const StreamFrame& f = s.frames.at(k);
            if (f.speech)
                Decode(s.bytes.data() + f.offset, f.length);
            else
                Conceal(1);
        }
    }
    void Decode(const uint8_t* frame, size_t size)
    {
        int16_t out[MERVOX_FRAME_SAMPLES];
        ASSERT_GT(mervox_decode(decoder_, frame, size, out), 1);
        pcm.insert(pcm.end(), out, out + MERVOX_FRAME_SAMPLES);
    }
    void Conceal(int frames)
    {
        int16_t out[MERVOX_FRAME_SAMPLES];
        for (int k = 0; k < frames; ++k) {
            mervox_conceal(decoder_, out);
            pcm.insert(pcm.end(), out, out + MERVOX_FRAME_SAMPLES);
        }
    }

    Pcm pcm;

private:
    mervox_decoder* decoder_;
};

struct Output {
    GstClockTime pts;
    GstClockTime duration;
    size_t frames;
};

class MervoxDecTest : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    void TearDown() override { Stop(); }

    void Start()
    {
        h_ = gst_harness_new("mervoxdec");
        ASSERT_NE(h_, nullptr) << "mervoxdec not found (GST_PLUGIN_PATH)";
        bus_ = gst_bus_new();
        gst_element_set_bus(h_->element, bus_);
        gst_harness_set_src_caps_str(h_, kG723Caps);
    }
    void Stop()
    {
        if (h_)
            gst_harness_teardown(h_);
        if (bus_)
            gst_object_unref(bus_);
        h_ = nullptr;
        bus_ = nullptr;
    }

    GstFlowReturn Push(const Bytes& data, GstClockTime pts, bool discont = false)
    {
        GstBuffer* buffer = gst_buffer_new_memdup(data.data(), data.size());
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = kFrame * Frames(data);
        if (discont)
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        return gst_harness_push(h_, buffer);
    }
    // Pushes `count` frames of `s` starting at `first`, `per` to a buffer,
    // timestamped as frame slots from `slot` on; returns the next slot.
    size_t PushFrames(const Stream& s, size_t first, size_t count, size_t per, size_t slot, bool discont = false)
    {
        for (size_t k = 0; k < count; k += per, slot += per) {
            const size_t n = std::min(per, count - k);
            EXPECT_EQ(Push(s.Payload(first + k, n), slot * kFrame, discont && k == 0), GST_FLOW_OK);
        }
        return slot;
    }
    void Gap(GstClockTime pts, GstClockTime duration)
    {
        ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_gap(pts, duration)));
    }

    // Every buffer the element has pushed since the last call; its samples
    // are appended to pcm_.
    std::vector<Output> Pull()
    {
        std::vector<Output> outputs;
        while (GstBuffer* b = gst_harness_try_pull(h_)) {
            GstMapInfo map;
            EXPECT_TRUE(gst_buffer_map(b, &map, GST_MAP_READ));
            EXPECT_EQ(map.size % kFramePcmBytes, 0u) << "not whole frames";
            const auto* samples = reinterpret_cast<const int16_t*>(map.data);
            pcm_.insert(pcm_.end(), samples, samples + map.size / sizeof(int16_t));
            outputs.push_back({GST_BUFFER_PTS(b), GST_BUFFER_DURATION(b), map.size / kFramePcmBytes});
            gst_buffer_unmap(b, &map);
            gst_buffer_unref(b);
        }
        return outputs;
    }

    // Collects the warnings and errors posted since the last call into
    // warnings_ and errors_ ("message | debug").
    void Messages()
    {
        warnings_.clear();
        errors_.clear();
        while (GstMessage* m = gst_bus_pop(bus_)) {
            GError* error = nullptr;
            gchar* debug = nullptr;
            if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING || GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
                const bool warning = GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING;
                if (warning)
                    gst_message_parse_warning(m, &error, &debug);
                else
                    gst_message_parse_error(m, &error, &debug);
                (warning ? warnings_ : errors_).push_back(std::string(error->message) + " | " + (debug ? debug : ""));
                g_error_free(error);
                g_free(debug);
            }
            gst_message_unref(m);
        }
    }

    static size_t Frames(const Bytes& payload)
    {
        size_t frames = 0;
        for (size_t at = 0; at < payload.size(); at += mervox_frame_bytes(payload[at]))
            ++frames;
        return frames;
    }

    // Output buffers must tile the timeline from `start` without holes.
    static void ExpectContiguous(const std::vector<Output>& outputs, GstClockTime start)
    {
        GstClockTime at = start;
        for (const Output& o : outputs) {
            EXPECT_EQ(o.pts, at) << "buffer at " << o.pts / GST_MSECOND << " ms";
            EXPECT_EQ(o.duration, o.frames * kFrame);
            at = o.pts + o.frames * kFrame;
        }
    }

    GstHarness* h_ = nullptr;
    GstBus* bus_ = nullptr;
    Pcm pcm_;
    std::vector<std::string> warnings_;
    std::vector<std::string> errors_;
};

TEST(MervoxDecPlugin, ComesFromThisBuildWithConcealmentOn)
{
    GstElementFactory* factory = gst_element_factory_find("mervoxdec");
    ASSERT_NE(factory, nullptr);
    GstPlugin* plugin = gst_plugin_feature_get_plugin(GST_PLUGIN_FEATURE(factory));
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(gst_plugin_get_filename(plugin), MERVOX_GST_PLUGIN_FILE)
        << "a mervox plugin from elsewhere was loaded: the test environment is not private";
    gst_object_unref(plugin);

    GstElement* element = gst_element_factory_create(factory, nullptr);
    gboolean plc = FALSE;
    g_object_get(element, "plc", &plc, nullptr);
    EXPECT_TRUE(plc);
    gst_object_unref(element);
    gst_object_unref(factory);
}

// Buffers of one or more frames, as a depayloader hands them over: each
// gives one output buffer of as many frames, on a timeline without holes,
// every sample as the library's decoder gives for the same frames (SID and
// untransmitted frames concealed), and no warning.
TEST_F(MervoxDecTest, BuffersOfFramesDecodeLikeTheLibrary)
{
    struct Case {
        const char* stream;
        size_t frames;
        std::vector<size_t> per;  // frames per buffer, in turn
    };
    const Case cases[] = {
        {"speech-a.63.bit", 200, {1}},
        {"speech-a.53.bit", 200, {1}},
        {"speech-a.mixed.bit", 400, {2, 3, 1, 4, 2, 2, 3}},  // 24- and 20-byte frames in one buffer
        {"speech-a.63-vad.bit", 600, {2}},                   // with both kinds of non-speech frames
    };
    int types[4] = {0, 0, 0, 0};
    for (size_t k = 0; k < 600; ++k)
        types[Corpus("speech-a.63-vad.bit").bytes[Corpus("speech-a.63-vad.bit").frames[k].offset] & 3]++;
    ASSERT_GT(types[MERVOX_FRAME_SID], 0);
    ASSERT_GT(types[MERVOX_FRAME_UNTRANSMITTED], 0);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.stream);
        Stop();
        Start();
        pcm_.clear();
        const Stream& s = Corpus(c.stream);
        std::vector<size_t> sizes;
        for (size_t frame = 0; frame < c.frames; frame += sizes.back()) {
            sizes.push_back(std::min(c.per[sizes.size() % c.per.size()], c.frames - frame));
            ASSERT_EQ(Push(s.Payload(frame, sizes.back()), frame * kFrame), GST_FLOW_OK);
        }
        const std::vector<Output> outputs = Pull();
        ASSERT_EQ(outputs.size(), sizes.size());
        for (size_t k = 0; k < outputs.size(); ++k)
            EXPECT_EQ(outputs[k].frames, sizes[k]) << "buffer " << k;
        ExpectContiguous(outputs, 0);
        Reference ref;
        ref.Frames(s, 0, c.frames);
        EXPECT_EQ(pcm_, ref.pcm);
        Messages();
        EXPECT_TRUE(warnings_.empty());
    }

    GstCaps* caps = gst_pad_get_current_caps(h_->sinkpad);
    ASSERT_NE(caps, nullptr);
    GstCaps* want = gst_caps_from_string("audio/x-raw, format=(string)" GST_AUDIO_NE(
        S16) ", layout=(string)interleaved, rate=(int)8000, channels=(int)1");
    EXPECT_TRUE(gst_caps_is_equal(caps, want)) << gst_caps_to_string(caps);
    gst_caps_unref(want);
    gst_caps_unref(caps);
}

// Time missing from the input, announced by GAP events or by a DISCONT
// buffer whose timestamp jumps, is concealed in whole frames (to the
// nearest one) at the missing time, before the frames that follow; time
// already produced is not concealed again. Hours of
// it give one minute (2000 frames) between two buffers of frames, however
// announced; a buffer of frames earns the next gap its minute again. With
// plc=false nothing is concealed and GAP events pass on downstream.
TEST_F(MervoxDecTest, MissingTimeIsConcealedInWholeFramesUpToAMinute)
{
    constexpr size_t kMinute = 2000;
    struct Step {
        const char* name;
        GstClockTime back;               // the GAP events start this long before the end of the audio so far
        std::vector<GstClockTime> gaps;  // GAP events, one after the other from there
        GstClockTime resume;             // where the next buffer lies (DISCONT), from the end of the audio so far
        size_t concealed;                // frames concealed before it
    };
    const Step steps[] = {
        {"a GAP event of 3 frames", 0, {3 * kFrame}, 3 * kFrame, 3},
        {"a GAP event of 70 ms: 2 frames", 0, {70 * GST_MSECOND}, 2 * kFrame, 2},
        {"a buffer 4 frames on", 0, {}, 4 * kFrame, 4},
        {"a buffer without a jump", 0, {}, 0, 0},
        {"a buffer 100 ms on: 3 frames", 0, {}, 100 * GST_MSECOND, 3},
        {"a GAP event of 3 frames over the last one: 2 frames", kFrame, {3 * kFrame}, 2 * kFrame, 2},
        {"an hour's GAP event, a buffer where it ends", 0, {3600 * GST_SECOND}, 3600 * GST_SECOND, kMinute},
        {"five GAP events of 30 s, a buffer 20 minutes on", 0, std::vector<GstClockTime>(5, 30 * GST_SECOND),
         1200 * GST_SECOND, kMinute},
    };
    const Stream& s = Corpus("speech-a.63.bit");
    for (const bool plc : {true, false}) {
        SCOPED_TRACE(plc ? "plc" : "plc=false");
        Stop();
        Start();
        pcm_.clear();
        g_object_set(h_->element, "plc", plc, nullptr);
        Reference ref;
        PushFrames(s, 0, 10, 2, 0);
        ref.Frames(s, 0, 10);
        Pull();
        size_t frame = 10;
        GstClockTime end = 10 * kFrame;  // of the audio so far
        for (const Step& step : steps) {
            SCOPED_TRACE(step.name);
            GstClockTime at = end - step.back;
            for (const GstClockTime gap : step.gaps) {
                Gap(at, gap);
                at += gap;
            }
            const size_t concealed = plc ? step.concealed : 0;
            ref.Conceal(static_cast<int>(concealed));
            ASSERT_EQ(Push(s.Payload(frame, 2), end + step.resume, true), GST_FLOW_OK);
            ref.Frames(s, frame, 2);

            const std::vector<Output> outputs = Pull();
            ASSERT_FALSE(outputs.empty());
            const std::vector<Output> concealment(outputs.begin(), outputs.end() - 1);
            // (Concealment for a GAP event that starts inside the audio
            // already produced is stamped at the event's start.)
            if (step.back == 0)
                ExpectContiguous(concealment, end);
            size_t frames = 0;
            for (const Output& o : concealment)
                frames += o.frames;
            EXPECT_EQ(frames, concealed);
            EXPECT_EQ(outputs.back().pts, end + step.resume);
            EXPECT_EQ(outputs.back().frames, 2u);
            bool gapPassedOn = false;
            while (GstEvent* e = gst_harness_try_pull_event(h_)) {
                gapPassedOn = gapPassedOn || GST_EVENT_TYPE(e) == GST_EVENT_GAP;
                gst_event_unref(e);
            }
            if (!plc) {
                EXPECT_EQ(gapPassedOn, !step.gaps.empty());
            }
            frame += 2;
            end += step.resume + 2 * kFrame;
        }
        EXPECT_EQ(pcm_, ref.pcm);
    }
}

// A buffer of many frames (a whole stream file, then 20,000 one-byte
// untransmitted frames: 20 KB that ask for 9.6 MB of audio) comes out in
// buffers of at most 100 frames, decoded as frames one by one would be.
TEST_F(MervoxDecTest, ABufferOfManyFramesIsDecodedInBoundedPieces)
{
    const Stream& s = Corpus("speech-a.63-vad.bit");
    const size_t untransmitted = 20000;
    Bytes data = s.bytes;
    data.insert(data.end(), untransmitted, MERVOX_FRAME_UNTRANSMITTED);
    ASSERT_EQ(Push(data, 0), GST_FLOW_OK);
    Reference ref;
    ref.Frames(s, 0, s.frames.size());
    ref.Conceal(static_cast<int>(untransmitted));

    const std::vector<Output> outputs = Pull();
    ExpectContiguous(outputs, 0);
    size_t frames = 0, largest = 0;
    for (const Output& o : outputs) {
        frames += o.frames;
        largest = std::max(largest, o.frames);
    }
    EXPECT_EQ(frames, s.frames.size() + untransmitted);
    EXPECT_LE(largest, 100u);
    EXPECT_EQ(pcm_, ref.pcm);
}

// Each way a new stream begins gives the output of a fresh decoder.
TEST_F(MervoxDecTest, FlushStreamStartAndNewCapsStartOver)
{
    const Stream& s = Corpus("speech-a.63.bit");
    const std::vector<std::string> kinds = {"flush", "stream-start", "caps"};
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        Stop();
        Start();
        pcm_.clear();
        PushFrames(s, 0, 20, 1, 0);
        Pull();
        pcm_.clear();
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        if (kind == "flush") {
            ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_start()));
            ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_stop(TRUE)));
            ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
        } else if (kind == "stream-start") {
            ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_stream_start("second")));
            ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
        } else {
            gst_harness_set_src_caps_str(h_, "audio/G723, rate=(int)8000, channels=(int)1, payload=(int)4");
        }
        PushFrames(s, 20, 30, 1, 0);
        const std::vector<Output> outputs = Pull();
        ExpectContiguous(outputs, 0);

        Reference fresh;
        fresh.Frames(s, 20, 30);
        EXPECT_EQ(pcm_, fresh.pcm);
        Reference continued;
        continued.Frames(s, 0, 50);
        EXPECT_NE(pcm_, Pcm(continued.pcm.begin() + 20 * MERVOX_FRAME_SAMPLES, continued.pcm.end()))
            << "the state before the reset must matter for this test to mean anything";
    }
}

// A malformed buffer between good ones: its frames decoded or concealed as
// the library does, the timeline kept, and one warning that says what was
// wrong: a frame cut short by the end of the buffer (concealed), or a frame
// whose unpacking finds impossible codes (concealed by the decoder).
TEST_F(MervoxDecTest, MalformedBufferIsConcealedWithAWarning)
{
    const Stream& s = Corpus("speech-a.63.bit");
    // Two whole frames and 10 bytes of a third.
    Bytes cut = s.Payload(4, 3);
    cut.resize(cut.size() - 14);
    // A 6.3 kbit/s frame whose unpacking finds impossible codes.
    uint32_t x = 7;
    Bytes damaged(24);
    for (int tries = 0; tries < 10000 && mervox_frame_faults(damaged.data(), damaged.size()) <= 0; ++tries) {
        for (uint8_t& byte : damaged)
            byte = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
        damaged[0] &= 0xfc;
    }
    ASSERT_GT(mervox_frame_faults(damaged.data(), damaged.size()), 0);

    struct Case {
        const char* name;
        Bytes payload;
        std::function<void(Reference&)> decode;
        std::vector<std::string> warning;  // what the warning says
    };
    const Case cases[] = {
        {"truncated",
         cut,
         [&](Reference& ref) {
             ref.Frames(s, 4, 2);
             ref.Conceal(1);
         },
         {"Truncated", "10 of the 24 bytes"}},
        {"damaged", damaged, [&](Reference& ref) { ref.Decode(damaged.data(), damaged.size()); }, {"Damaged"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stop();
        Start();
        pcm_.clear();
        Reference ref;
        PushFrames(s, 0, 4, 2, 0);
        ref.Frames(s, 0, 4);
        ASSERT_EQ(Push(c.payload, 4 * kFrame), GST_FLOW_OK);
        c.decode(ref);
        const size_t after = 4 + Frames(c.payload);
        PushFrames(s, after, 6, 2, after);
        ref.Frames(s, after, 6);

        const std::vector<Output> outputs = Pull();
        ExpectContiguous(outputs, 0);
        ASSERT_EQ(outputs.size(), 6u);
        EXPECT_EQ(outputs[2].frames, Frames(c.payload));
        EXPECT_EQ(pcm_, ref.pcm);
        Messages();
        ASSERT_EQ(warnings_.size(), 1u);
        for (const std::string& text : c.warning)
            EXPECT_NE(warnings_[0].find(text), std::string::npos) << warnings_[0];
    }
}

TEST_F(MervoxDecTest, GarbageIsDecodedFrameByFrameWithoutStopping)
{
    // Pseudo-random bytes in buffers of 1 to 60 bytes: every frame they hold
    // is decoded or concealed as the library would, none is dropped.
    uint32_t x = 12345;
    auto next = [&x]() { return x = x * 1103515245u + 12345u, static_cast<uint8_t>(x >> 16); };
    Reference ref;
    GstClockTime pts = 0;
    size_t truncated = 0;
    for (int b = 0; b < 300; ++b) {
        Bytes data(1 + next() % 60);
        for (uint8_t& byte : data)
            byte = next();
        size_t at = 0;
        for (; at < data.size(); at += mervox_frame_bytes(data[at])) {
            const size_t length = mervox_frame_bytes(data[at]);
            const int type = data[at] & 3;
            if (length <= data.size() - at && (type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300))
                ref.Decode(data.data() + at, length);
            else
                ref.Conceal(1);
        }
        truncated += at > data.size();
        ASSERT_EQ(Push(data, pts), GST_FLOW_OK) << "buffer " << b;
        pts += Frames(data) * kFrame;
    }
    ExpectContiguous(Pull(), 0);
    EXPECT_EQ(pcm_, ref.pcm);
    EXPECT_GT(truncated, 0u);
    Messages();
    EXPECT_GE(warnings_.size(), truncated);
    EXPECT_TRUE(errors_.empty());
}

// GStreamer's decoder convention: errors are counted, and reset by each
// buffer of output; max-errors=0 makes the first malformed buffer an error.
TEST_F(MervoxDecTest, MaxErrorsDecidesBetweenWarningAndError)
{
    const Stream& s = Corpus("speech-a.63.bit");
    Bytes cut = s.Payload(0, 1);
    cut.resize(10);
    for (int maxErrors : {1, 0}) {
        SCOPED_TRACE(maxErrors);
        Stop();
        Start();
        g_object_set(h_->element, "max-errors", maxErrors, nullptr);
        std::vector<GstFlowReturn> results;
        for (int k = 0; k < 3; ++k)
            results.push_back(Push(cut, static_cast<GstClockTime>(k) * kFrame));
        Messages();
        if (maxErrors == 1) {
            EXPECT_EQ(results, std::vector<GstFlowReturn>(3, GST_FLOW_OK));
            EXPECT_EQ(warnings_.size(), 3u);
            EXPECT_TRUE(errors_.empty());
        } else {
            EXPECT_EQ(results[0], GST_FLOW_ERROR);
            EXPECT_TRUE(warnings_.empty());
            ASSERT_FALSE(errors_.empty());
            EXPECT_NE(errors_[0].find("Truncated"), std::string::npos) << errors_[0];
        }
    }
}

// mervoxparse cuts a raw stream, whatever its chunks, into one buffer per
// frame, stamped 30 ms apart.
TEST(MervoxParseTest, CutsAStreamIntoFramesWhateverTheChunks)
{
    const Stream& s = Corpus("speech-a.63-vad.bit");
    const size_t frames = 500;
    const Bytes stream = s.Payload(0, frames);
    GstHarness* h = gst_harness_new("mervoxparse");
    ASSERT_NE(h, nullptr);
    gst_harness_set_src_caps_str(h, kG723Caps);
    // Bytes from a file, as filesrc sends them.
    GstSegment bytes;
    gst_segment_init(&bytes, GST_FORMAT_BYTES);
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_segment(&bytes)));
    for (size_t at = 0, chunk = 7; at < stream.size(); at += chunk, chunk = chunk % 50 + 13) {
        const size_t n = std::min(chunk, stream.size() - at);
        ASSERT_EQ(gst_harness_push(h, gst_buffer_new_memdup(stream.data() + at, n)), GST_FLOW_OK);
    }
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));

    size_t k = 0;
    while (GstBuffer* b = gst_harness_try_pull(h)) {
        ASSERT_LT(k, frames);
        const StreamFrame& f = s.frames[k];
        EXPECT_EQ(GST_BUFFER_PTS(b), k * kFrame);
        EXPECT_EQ(GST_BUFFER_DURATION(b), kFrame);
        EXPECT_EQ(gst_buffer_memcmp(b, 0, s.bytes.data() + f.offset, f.length), 0) << "frame " << k;
        EXPECT_EQ(gst_buffer_get_size(b), f.length) << "frame " << k;
        gst_buffer_unref(b);
        ++k;
    }
    EXPECT_EQ(k, frames);
    gst_harness_teardown(h);
}

// filesrc ! mervoxparse ! mervoxdec after a flushing seek: the parser hands
// over whole frames only, stamped with their own time, nothing is reported
// damaged, and the audio is the stream decoded from its start (as `mervox
// decode` writes it) from the target on, sample for sample. The VAD stream's
// frames are 24, 4 and 1 bytes long, so no byte position maps to a time; its
// concealed silence frames draw on the decoder's noise generator, whose state
// depends on every frame before the target. Pull mode (filesrc drives the
// parser) and push mode (a queue between them) seek by different paths.
class MervoxParseSeekTest : public ::testing::TestWithParam<bool> {
protected:
    // What passes the parser's and the decoder's source pads after the
    // seek's flush.
    struct Seen {
        const Stream* stream = nullptr;
        bool flushed[2] = {false, false};
        size_t frames = 0;
        std::vector<GstClockTime> wrong;  // buffers that are not the frame of their time
        GstClockTime last = GST_CLOCK_TIME_NONE;
        Pcm pcm;
        GstClockTime first_pts = GST_CLOCK_TIME_NONE;
    };

    template <bool kParser>
    static GstPadProbeReturn Probe(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        Seen& s = *static_cast<Seen*>(data);
        if (info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH) {
            s.flushed[kParser] |= GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP;
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!s.flushed[kParser])
            return GST_PAD_PROBE_OK;
        if (kParser) {
            const size_t k = GST_BUFFER_PTS(b) / kFrame;
            const std::vector<StreamFrame>& f = s.stream->frames;
            if (GST_BUFFER_PTS(b) != k * kFrame || k >= f.size() || gst_buffer_get_size(b) != f[k].length ||
                gst_buffer_memcmp(b, 0, s.stream->bytes.data() + f[k].offset, f[k].length) != 0)
                s.wrong.push_back(GST_BUFFER_PTS(b));
            s.frames++;
            s.last = GST_BUFFER_PTS(b);
            return GST_PAD_PROBE_OK;
        }
        if (s.pcm.empty())
            s.first_pts = GST_BUFFER_PTS(b);
        GstMapInfo map;
        if (gst_buffer_map(b, &map, GST_MAP_READ)) {
            const auto* samples = reinterpret_cast<const int16_t*>(map.data);
            s.pcm.insert(s.pcm.end(), samples, samples + map.size / sizeof(int16_t));
            gst_buffer_unmap(b, &map);
        }
        return GST_PAD_PROBE_OK;
    }

    static void Watch(GstElement* pipeline, const char* name, GstPadProbeCallback probe, Seen* seen)
    {
        GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), name);
        GstPad* pad = gst_element_get_static_pad(element, "src");
        gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                          probe, seen, nullptr);
        gst_object_unref(pad);
        gst_object_unref(element);
    }

    // Seeks to `target` once the pipeline has prerolled and plays to the
    // end; the warnings and errors posted on the way go to `problems`.
    void SeekAndPlay(const std::string& path, GstClockTime target, Seen& seen, std::vector<std::string>& problems)
    {
        const std::string description = "filesrc location=\"" + path + "\" " + (GetParam() ? "! queue " : "") +
                                        "! mervoxparse name=parse ! mervoxdec name=dec ! fakesink sync=false";
        // Stopped and freed on every way out (the probes point into `seen`).
        const std::unique_ptr<GstElement, void (*)(GstElement*)> owner(gst_parse_launch(description.c_str(), nullptr),
                                                                       [](GstElement* p) {
                                                                           gst_element_set_state(p, GST_STATE_NULL);
                                                                           gst_object_unref(p);
                                                                       });
        GstElement* pipeline = owner.get();
        ASSERT_NE(pipeline, nullptr) << description;
        Watch(pipeline, "parse", Probe<true>, &seen);
        Watch(pipeline, "dec", Probe<false>, &seen);

        ASSERT_EQ(gst_element_set_state(pipeline, GST_STATE_PAUSED), GST_STATE_CHANGE_ASYNC);
        ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 30 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
        EXPECT_FALSE(gst_element_seek(pipeline, -1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, GST_SEEK_TYPE_SET, 0,
                                      GST_SEEK_TYPE_SET, static_cast<gint64>(target)))
            << "reverse playback is refused";
        ASSERT_TRUE(
            gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, static_cast<gint64>(target)));
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING);
        while (GstMessage* m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND, types)) {
            const bool eos = GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS, error = GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR;
            if (!eos) {
                GError* e = nullptr;
                (error ? gst_message_parse_error : gst_message_parse_warning)(m, &e, nullptr);
                problems.push_back(e->message);
                g_error_free(e);
            }
            gst_message_unref(m);
            if (eos || error)
                break;
        }
        gst_object_unref(bus);
    }
};

TEST_P(MervoxParseSeekTest, AfterASeekTheAudioIsTheStreamsOwnFromTheTarget)
{
    const std::string name = "speech-a.63-vad.bit";
    const Stream& s = Corpus(name);
    Reference whole;
    whole.Frames(s, 0, s.frames.size());

    for (GstClockTime target : {37300 * GST_MSECOND, 80 * GST_SECOND, 5 * GST_SECOND}) {
        SCOPED_TRACE(std::to_string(target / GST_MSECOND) + " ms");
        Seen seen;
        seen.stream = &s;
        std::vector<std::string> problems;
        SeekAndPlay(mervox::test::DataPath("corpus/" + name), target, seen, problems);
        EXPECT_TRUE(problems.empty()) << problems.front();

        // Whole frames, each stamped with its own slot, up to the last one.
        EXPECT_TRUE(seen.wrong.empty()) << seen.wrong.size() << " of " << seen.frames
                                        << " buffers are not the frame of their time, the first at "
                                        << seen.wrong.front() / GST_MSECOND << " ms";
        EXPECT_EQ(seen.last, (s.frames.size() - 1) * kFrame);

        // The samples from the target to the end, no more, no fewer.
        const size_t first = static_cast<size_t>(target / (GST_SECOND / MERVOX_SAMPLE_RATE));
        EXPECT_EQ(seen.first_pts, target);
        EXPECT_EQ(seen.pcm.size(), whole.pcm.size() - first);
        EXPECT_TRUE(seen.pcm.size() == whole.pcm.size() - first &&
                    std::equal(seen.pcm.begin(), seen.pcm.end(), whole.pcm.begin() + static_cast<long>(first)))
            << "the samples differ from the stream decoded from its start";
    }
}

INSTANTIATE_TEST_SUITE_P(PullAndPush, MervoxParseSeekTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "Push" : "Pull"; });

}  // namespace

// GStreamer starts only when tests run (not when ctest lists them), with a
// registry and plugin path of its own: this build's plugin and, from the
// system, only the core elements (filesrc, queue, fakesink) for the pipeline
// tests. The plugin is scanned in this process: GStreamer's separate scanner
// program could not load a sanitizer build of it.
class GStreamerEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        for (const char* name : {"GST_PLUGIN_PATH", "GST_PLUGIN_PATH_1_0"})
            g_setenv(name, MERVOX_GST_PLUGIN_DIR, TRUE);
        for (const char* name : {"GST_PLUGIN_SYSTEM_PATH", "GST_PLUGIN_SYSTEM_PATH_1_0"})
            g_setenv(name, "", TRUE);
        for (const char* name : {"GST_REGISTRY", "GST_REGISTRY_1_0"})
            g_setenv(name, MERVOX_GST_REGISTRY, TRUE);
        g_setenv("GST_REGISTRY_FORK", "no", TRUE);
        // A failed GLib or GStreamer check (a buffer used after it was
        // freed, say) ends the program instead of scrolling past.
        g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
        gst_init(nullptr, nullptr);
        GError* error = nullptr;
        GstPlugin* core = gst_plugin_load_file(MERVOX_GST_SYSTEM_PLUGIN_DIR "/libgstcoreelements.so", &error);
        ASSERT_NE(core, nullptr) << "GStreamer's core elements: " << (error ? error->message : "");
        gst_object_unref(core);
    }
    void TearDown() override { gst_deinit(); }
};

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new GStreamerEnvironment);
    return RUN_ALL_TESTS();
}
