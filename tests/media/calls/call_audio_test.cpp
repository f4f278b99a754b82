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

timeline::RtpStream Stream(double firstArrival, std::vector<int16_t> pcm,
                           std::vector<timeline::StreamAnchor> anchors = {{}})
{
    timeline::RtpStream s;
    s.firstArrival = firstArrival;
    s.pcm = std::move(pcm);
    s.anchors = std::move(anchors);
    return s;
}

std::vector<int16_t> Ramp(size_t n, int16_t first)
{
    std::vector<int16_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

CallAudio Place(const Call& call, const std::vector<timeline::RtpStream>& streams, CallLayout layout)
{
    return PlaceCall(call, streams, layout, [&](size_t i) { return streams[i].pcm.size(); });
}

TEST(CallAudio, EachStreamStartsAtItsFirstArrivalOnItsSide)
{
    // The callee's stream arrives first; the caller's 12.5 ms (100 samples) later.
    const std::vector<timeline::RtpStream> streams = {Stream(1000.0125, Ramp(300, 1)), Stream(1000.0, Ramp(200, 1000))};
    Call call;
    call.streams = {{0, true}, {1, false}};
    const CallAudio audio = Place(call, streams, CallLayout::kStereo);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_DOUBLE_EQ(audio.start, 1000.0);
    EXPECT_EQ(audio.length, 400u);
    const std::vector<int16_t> pcm = ComposeCallInMemory(audio, streams);
    ASSERT_EQ(pcm.size(), 800u);
    for (size_t i = 0; i < 400; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pcm[2 * i], i < 100 ? 0 : streams[0].pcm[i - 100]);  // left: the caller
        EXPECT_EQ(pcm[2 * i + 1], i < 200 ? streams[1].pcm[i] : 0);    // right: the callee, then silence
    }
}

TEST(CallAudio, ChannelsFollowTheCall)
{
    const std::vector<timeline::RtpStream> streams = {Stream(5, Ramp(10, 1)), Stream(5, Ramp(10, 1))};
    Call alone;
    alone.streams = {{0, true}};
    EXPECT_EQ(Place(alone, streams, CallLayout::kStereo).channels, 1);  // unsignalled, one direction
    alone.signalled = true;
    const CallAudio sip = Place(alone, streams, CallLayout::kStereo);
    EXPECT_EQ(sip.channels, 2);  // a SIP call keeps both sides: the silent one is silence
    const std::vector<int16_t> pcm = ComposeCallInMemory(sip, streams);
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
    const std::vector<timeline::RtpStream> streams = {
        Stream(0, {30000, -30000, 100, 32767}),
        Stream(0, {30000, -30000, -100, 1}),
        Stream(0, {1, 1, 1, 1}),
    };
    Call call;
    call.streams = {{0, true}, {1, false}, {2, true}};  // two streams of the caller's side overlap
    const std::vector<int16_t> mixed = ComposeCallInMemory(Place(call, streams, CallLayout::kMixed), streams);
    EXPECT_EQ(mixed, (std::vector<int16_t>{32767, -32768, 1, 32767}));
    const std::vector<int16_t> stereo = ComposeCallInMemory(Place(call, streams, CallLayout::kStereo), streams);
    EXPECT_EQ(stereo, (std::vector<int16_t>{30001, 30000, -29999, -30000, 101, -100, 32767, 1}));
}

TEST(CallAudio, AnchorsMoveTheStreamAndItNeverOverlapsItself)
{
    // Samples 0-99 at 0; 100-199 1000 samples later than their timeline
    // (silence between); 200-299 back at 1050, over the end of the second
    // piece, which gives way.
    const std::vector<timeline::RtpStream> streams = {
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
    const std::vector<int16_t> pcm = ComposeCallInMemory(audio, streams);
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
    const std::vector<timeline::RtpStream> early = {Stream(0, Ramp(300, 1), {{0, 0}, {100, -50}})};
    const std::vector<int16_t> cut = ComposeCallInMemory(Place(call, early, CallLayout::kStereo), early);
    ASSERT_EQ(cut.size(), 150u);
    EXPECT_EQ(cut[0], 151);
}

TEST(CallAudio, ArrivalsWithin100MsKeepTheTimelineAndLaterOnesReanchorIt)
{
    timeline::ArrivalAnchors a(100.0);
    // Packets of one frame, 30 ms apart, with up to 90 ms of jitter either way.
    for (int k = 0; k < 20; ++k)
        a.Frame(static_cast<uint64_t>(k), 100.0 + 0.03 * k + (k % 2 ? 0.09 : -0.04));
    EXPECT_EQ(a.anchors().size(), 1u);
    // A stall: the next packet comes 500 ms late; its frame goes there.
    a.Frame(20, 100.0 + 0.03 * 20 + 0.5);
    ASSERT_EQ(a.anchors().size(), 2u);
    EXPECT_EQ(a.anchors()[1].sample, 20u * 240);
    EXPECT_EQ(a.anchors()[1].at, 20 * 240 + 4000);
    // The second frame of a packet is held against nothing new.
    a.Frame(20, 100.0 + 0.03 * 20 + 0.5);
    // 40 frames concealed that never arrived (the timeline ran 1.2 s ahead).
    a.Lost(40);
    a.Frame(21, 100.0 + 0.03 * 22 + 0.5);
    ASSERT_EQ(a.anchors().size(), 3u);
    EXPECT_EQ(a.anchors()[2].sample, 62u * 240);
    EXPECT_EQ(a.anchors()[2].at, 22 * 240 + 4000);
    EXPECT_EQ(a.samples(), 63u * 240);

    // The stream's first frame came 2 s after its first packet (the packets
    // before it were dropped): the stream starts where that frame arrived,
    // its first anchor moved rather than a second one at the same sample.
    timeline::ArrivalAnchors late(100.0);
    late.Frame(0, 102.0);
    late.Frame(1, 102.03);
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
