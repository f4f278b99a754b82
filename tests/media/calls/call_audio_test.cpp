// A call's recording from its streams: where each stream's samples go
// (first arrival, anchors), the channels, silence, saturated sums, and the
// anchors that the arrivals give.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "calls/call_audio.h"
#include "timeline/arrival_anchors.h"

namespace mervox::media::calls {
namespace {

using timeline::ArrivalAnchors;
using timeline::StreamAnchor;

// A stream's report and its decoded samples.
struct DecodedStream : timeline::RtpStream {
    std::vector<int16_t> pcm;
};

DecodedStream Stream(double firstArrival, std::vector<int16_t> pcm, std::vector<timeline::StreamAnchor> anchors = {{}})
{
    DecodedStream s;
    s.firstArrival = firstArrival;
    s.pcm = std::move(pcm);
    s.anchors = std::move(anchors);
    s.stats.speechFrames = (s.pcm.size() + 239) / 240;  // its samples, as frames of speech
    return s;
}

std::vector<int16_t> Ramp(size_t n, int16_t first)
{
    std::vector<int16_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

CallAudio Place(const Call& call, const std::vector<DecodedStream>& streams, CallLayout layout)
{
    const std::vector<timeline::RtpStream> reports(streams.begin(), streams.end());
    return PlaceCall(call, reports, layout, nullptr, [&](size_t i) { return streams[i].pcm.size(); });
}

std::vector<int16_t> Compose(const CallAudio& audio, const std::vector<DecodedStream>& streams,
                             const base::StopRequested& stop = {})
{
    std::vector<std::vector<int16_t>> pcm;
    for (const DecodedStream& s : streams)
        pcm.push_back(s.pcm);
    return ComposeCallInMemory(audio, pcm, stop);
}

TEST(CallAudio, EachStreamStartsAtItsFirstArrivalOnItsSide)
{
    // The callee's stream arrives first; the caller's 12.5 ms (100 samples) later.
    const std::vector<DecodedStream> streams = {Stream(1000.0125, Ramp(300, 1)), Stream(1000.0, Ramp(200, 1000))};
    Call call;
    call.streams = {{0, true}, {1, false}};
    const CallAudio audio = Place(call, streams, CallLayout::kStereo);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_DOUBLE_EQ(audio.start, 1000.0);
    EXPECT_EQ(audio.length, 400u);
    const std::vector<int16_t> pcm = Compose(audio, streams);
    ASSERT_EQ(pcm.size(), 800u);
    for (size_t i = 0; i < 400; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pcm[2 * i], i < 100 ? 0 : streams[0].pcm[i - 100]);  // left: the caller
        EXPECT_EQ(pcm[2 * i + 1], i < 200 ? streams[1].pcm[i] : 0);    // right: the callee, then silence
    }
}

TEST(CallAudio, ChannelsFollowTheCall)
{
    const std::vector<DecodedStream> streams = {Stream(5, Ramp(10, 1)), Stream(5, Ramp(10, 1))};
    Call alone;
    alone.streams = {{0, true}};
    EXPECT_EQ(Place(alone, streams, CallLayout::kStereo).channels, 1);  // unsignalled, one direction
    alone.signalled = true;
    const CallAudio sip = Place(alone, streams, CallLayout::kStereo);
    EXPECT_EQ(sip.channels, 2);  // a SIP call keeps both sides: the silent one is silence
    const std::vector<int16_t> pcm = Compose(sip, streams);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(pcm[2 * i + 1], 0);
    Call callee;
    callee.signalled = true;
    callee.streams = {{1, false}};
    EXPECT_EQ(Place(callee, streams, CallLayout::kStereo).streams[0].channel, 1);
    EXPECT_EQ(Place(callee, streams, CallLayout::kMixed).channels, 1);
    Call none;
    none.signalled = true;
    EXPECT_EQ(Place(none, streams, CallLayout::kStereo).channels, 0);
}

TEST(CallAudio, OverlapsAreSummedAndSaturated)
{
    const std::vector<DecodedStream> streams = {
        Stream(0, {30000, -30000, 100, 32767}),
        Stream(0, {30000, -30000, -100, 1}),
        Stream(0, {1, 1, 1, 1}),
    };
    Call call;
    call.streams = {{0, true}, {1, false}, {2, true}};  // two streams of the caller's side overlap
    const std::vector<int16_t> mixed = Compose(Place(call, streams, CallLayout::kMixed), streams);
    EXPECT_EQ(mixed, (std::vector<int16_t>{32767, -32768, 1, 32767}));
    const std::vector<int16_t> stereo = Compose(Place(call, streams, CallLayout::kStereo), streams);
    EXPECT_EQ(stereo, (std::vector<int16_t>{30001, 30000, -29999, -30000, 101, -100, 32767, 1}));
}

TEST(CallAudio, AnchorsMoveTheStreamAndItNeverOverlapsItself)
{
    // Samples 0-99 at 0; 100-199 1000 samples later than their timeline
    // (silence between); 200-299 back at 1050, over the end of the second
    // piece, which gives way.
    const std::vector<DecodedStream> streams = {
        Stream(0, Ramp(300, 1), {{0, 0}, {100, 1100}, {200, 1150}}),
    };
    Call call;
    call.streams = {{0, true}};
    const CallAudio audio = Place(call, streams, CallLayout::kStereo);
    ASSERT_EQ(audio.streams.size(), 1u);
    EXPECT_EQ(audio.streams[0].reanchors, 2u);
    ASSERT_EQ(audio.streams[0].segments.size(), 3u);
    EXPECT_EQ(audio.streams[0].segments[1].count, 50u);
    EXPECT_EQ(audio.length, 1250u);
    const std::vector<int16_t> pcm = Compose(audio, streams);
    ASSERT_EQ(pcm.size(), 1250u);
    for (size_t i = 0; i < pcm.size(); ++i) {
        SCOPED_TRACE(i);
        const int want = i < 100    ? 1 + static_cast<int>(i)
                         : i < 1100 ? 0
                         : i < 1150 ? 101 + static_cast<int>(i - 1100)
                                    : 201 + static_cast<int>(i - 1150);
        EXPECT_EQ(pcm[i], want);
    }
    // An anchor before the call's first sample loses what would lie before it.
    const std::vector<DecodedStream> early = {Stream(0, Ramp(300, 1), {{0, 0}, {100, -50}})};
    const std::vector<int16_t> cut = Compose(Place(call, early, CallLayout::kStereo), early);
    ASSERT_EQ(cut.size(), 150u);
    EXPECT_EQ(cut[0], 151);
}

TEST(CallAudio, SilenceIsCutToAMinuteAndToWhatTheStreamsPayFor)
{
    // Three streams of 100 samples from 0 s, 120 s and 130 s: silence of
    // nearly 2 minutes, then of 10 s, where no stream has audio.
    std::vector<DecodedStream> streams = {Stream(0, Ramp(100, 1)), Stream(120, Ramp(100, 1)),
                                          Stream(130, Ramp(100, 1))};
    Call call;
    call.streams = {{0, true}, {1, false}, {2, true}};
    for (DecodedStream& s : streams)
        s.stats.speechFrames = 100;  // 300 real frames pay for 270 s of silence
    CallAudio audio = Place(call, streams, CallLayout::kStereo);
    ASSERT_EQ(audio.cuts.size(), 1u);
    EXPECT_EQ(audio.cuts[0].at, 100u + 480000);  // a minute kept
    EXPECT_EQ(audio.cuts[0].samples, 120u * 8000 - 100 - 480000);
    EXPECT_DOUBLE_EQ(audio.cuts[0].time, (100 + 480000) / 8000.0);
    EXPECT_EQ(audio.length, 100u + 480000 + 10 * 8000 + 100);
    const std::vector<int16_t> pcm = Compose(audio, streams);
    EXPECT_EQ(pcm[2 * (100 + 480000) + 1], 1);  // the second stream right after the cut, on its side
    EXPECT_EQ(pcm[2 * (100 + 480000 + 10 * 8000)], 1);
    EXPECT_EQ(std::count(pcm.begin(), pcm.end(), 0), static_cast<long>(pcm.size() - 3 * 100));

    // 30 real frames pay for 27 s: the first silence takes it all.
    for (DecodedStream& s : streams)
        s.stats.speechFrames = 10;
    audio = Place(call, streams, CallLayout::kStereo);
    ASSERT_EQ(audio.cuts.size(), 2u);
    EXPECT_EQ(audio.cuts[0].at, 100u + 216000);
    EXPECT_EQ(audio.cuts[1].at, 100u + 216000 + 100);
    EXPECT_EQ(audio.cuts[1].samples, 10u * 8000 - 100);
    EXPECT_EQ(audio.length, 100u + 216000 + 200);
}

TEST(CallAudio, ComposingAsksWhetherToStop)
{
    // 10 minutes: asked every 4096 frames' worth, and stopped when told.
    const std::vector<DecodedStream> streams = {Stream(0, std::vector<int16_t>(10 * 60 * 8000, 1))};
    Call call;
    call.streams = {{0, true}};
    int asked = 0;
    const base::StopRequested stop = [&] { return ++asked == 2; };
    EXPECT_THROW(Compose(Place(call, streams, CallLayout::kStereo), streams, stop), base::Interrupted);
    EXPECT_EQ(asked, 2);
}

// Packets of one frame, 30 ms apart from capture time 100 s, that arrive
// 150 ms earlier from packet 200 on (6 s: a shorter route); frames
// `silent` are silence descriptors.
timeline::ArrivalAnchors Earlier(const std::vector<bool>& silent)
{
    timeline::ArrivalAnchors a(100.0);
    for (size_t k = 0; k < silent.size(); ++k)
        a.Frame(k, 100.0 + 0.03 * static_cast<double>(k) - (k >= 200 ? 0.15 : 0), silent[k]);
    return a;
}

TEST(CallAudio, AReanchoringWaitsForAPauseThatCanTakeIt)
{
    // 150 ms earlier is a move (more than 100 ms), but less than the 250 ms
    // that would put it where it is: without a pause the stream keeps its
    // timeline.
    std::vector<bool> silent(600, false);
    EXPECT_EQ(Earlier(silent).anchors().size(), 1u);
    // A pause of 4 frames (120 ms) cannot give way for 150 ms; one of 10
    // frames from frame 400 can: its first 150 ms (1200 samples) give way.
    std::fill(silent.begin() + 300, silent.begin() + 304, true);
    std::fill(silent.begin() + 400, silent.begin() + 410, true);
    const timeline::ArrivalAnchors a = Earlier(silent);
    ASSERT_EQ(a.anchors().size(), 2u);
    EXPECT_EQ(a.anchors()[1].sample, 400u * 240 + 1200);
    EXPECT_EQ(a.anchors()[1].at, 400 * 240);
    EXPECT_EQ(a.anchors()[1].earliest, 200u * 240);  // where the packets began to come earlier

    // The stream's first frame came 2 s after its first packet (the packets
    // before it were dropped): the stream starts where that frame arrived,
    // its first anchor moved rather than a second one at the same sample.
    timeline::ArrivalAnchors late(100.0);
    late.Frame(0, 102.0, false);
    late.Frame(1, 102.03, false);
    ASSERT_EQ(late.anchors().size(), 1u);
    EXPECT_EQ(late.anchors()[0].sample, 0u);
    EXPECT_EQ(late.anchors()[0].at, 16000);
}

TEST(CallAudio, LayoutNamesAndUriUsers)
{
    EXPECT_EQ(CallLayoutFromName("call"), CallLayout::kStereo);
    EXPECT_EQ(CallLayoutFromName("mixed"), CallLayout::kMixed);
    EXPECT_EQ(CallLayoutFromName("streams"), CallLayout::kStreams);
    EXPECT_FALSE(CallLayoutFromName("stereo"));
    EXPECT_EQ(UriUser("sip:alice@example.com;transport=udp"), "alice");
    EXPECT_EQ(UriUser("sips:+4930123@example.com"), "+4930123");
    EXPECT_EQ(UriUser("tel:+4930123;phone-context=x"), "+4930123");
    EXPECT_EQ(UriUser("sip:example.com:5060"), "example.com");
}

}  // namespace
}  // namespace mervox::media::calls
