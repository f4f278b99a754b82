// A call's channels against its streams' own decodes when the network
// delays the packets: under delay jitter alone (however the packets
// overtake each other) each channel is its stream's decode, whole; where
// the sender's clock drifts, it pauses or restarts, the stream still lands
// near its packets' arrivals, each sample at most once and in order, and
// what gives way or is put between is a pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

#include "calls/call_audio.h"
#include "jittered_call.h"
#include "recorder/decoded_capture.h"

namespace mervox::media::calls {
namespace {

using capture::test::JitteredDirection;

struct PlacementCase {
    const char* name;
    JitteredDirection caller;  // the callee's stream is the 5.3 kbit/s corpus, as jittered
    bool whole;                // the caller's channel is its decode, untouched
};

JitteredDirection Jittered(size_t packets, double minDelay, double maxDelay)
{
    JitteredDirection d;
    d.ssrc = 0xa11ce;
    d.packets = packets;
    d.minDelay = minDelay;
    d.maxDelay = maxDelay;
    return d;
}

PlacementCase Case(const char* name, JitteredDirection d, bool whole = false) { return {name, std::move(d), whole}; }

std::vector<PlacementCase> Cases()
{
    constexpr size_t kCorpus = 3906;  // 117 s
    std::vector<PlacementCase> cases = {Case("Jitter5To155ms", Jittered(kCorpus, 0.005, 0.155), true),
                                        Case("Jitter0To500ms", Jittered(kCorpus, 0.0, 0.5), true)};
    JitteredDirection fast = Jittered(20000, 0.005, 0.155);  // 10 minutes
    fast.clock = 1.005;
    cases.push_back(Case("ClockFastBy0_5Percent", fast));
    JitteredDirection pause = Jittered(kCorpus, 0.005, 0.155);
    pause.pauseAfter = 1500;
    pause.pauseSeconds = 5;
    cases.push_back(Case("PauseOf5sWithoutTimestamps", pause));
    JitteredDirection back = Jittered(kCorpus, 0.005, 0.155);
    back.restartAfter = 1500;
    back.restartSeconds = 2;
    back.restartTicks = -2000000000;
    cases.push_back(Case("RestartWithTimestampsBack", back));
    JitteredDirection ahead = back;
    ahead.restartTicks = 667 * 240;  // 20 s, whole frames
    cases.push_back(Case("RestartWithTimestamps20sOn", ahead));
    return cases;
}

// Below -50 dBFS over the frame.
bool Quiet(const std::vector<int16_t>& pcm, uint64_t frame)
{
    double power = 0;
    for (uint64_t j = 240 * frame; j < 240 * (frame + 1) && j < pcm.size(); ++j)
        power += static_cast<double>(pcm[j]) * pcm[j];
    return 10 * std::log10(power / 240 / (32768.0 * 32768.0) + 1e-30) < -50;
}

std::optional<uint64_t> PlacedAt(const std::vector<Segment>& segments, uint64_t sample)
{
    for (const Segment& g : segments)
        if (sample >= g.from && sample < g.from + g.count)
            return g.at + (sample - g.from);
    return std::nullopt;
}

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, ChannelsAreTheStreamsDecodesPlacedByTheirArrivals)
{
    const PlacementCase& c = GetParam();
    JitteredDirection callee = Jittered(3906, c.caller.minDelay, c.caller.maxDelay);
    callee.corpus = "speech-a.53.bit";
    callee.ssrc = 0xb0b;
    const capture::test::JitteredCall made = capture::test::MakeJitteredCall(c.caller, callee, 20261207);
    const recorder::DecodedCapture report = recorder::DecodeCaptureBytes(made.pcap.data(), made.pcap.size());
    ASSERT_EQ(report.streams.size(), 2u);
    ASSERT_EQ(report.calls.size(), 1u);
    MemorySampleSource decoded(report.pcm);
    const CallAudio audio = PlaceCall(report.calls[0], report.streams, CallLayout::kStereo, &decoded);
    ASSERT_EQ(audio.channels, 2);
    const std::vector<int16_t> stereo = ComposeCallInMemory(audio, report.pcm);

    for (const PlacedStream& p : audio.streams) {
        const timeline::RtpStream& s = report.streams[p.stream];
        const bool isCaller = s.ssrc == c.caller.ssrc;
        SCOPED_TRACE(isCaller ? "caller" : "callee");
        const std::vector<int16_t>& pcm = report.pcm[p.stream];
        // Only the frames that a restart's timestamps skipped are lost.
        ASSERT_EQ(s.stats.lostFrames,
                  isCaller && c.caller.restartTicks > 0 ? static_cast<uint64_t>(c.caller.restartTicks / 240) : 0u);
        std::vector<int16_t> channel(audio.length);
        for (size_t i = 0; i < channel.size(); ++i)
            channel[i] = stereo[2 * i + static_cast<size_t>(p.channel)];

        if (!isCaller || c.whole) {
            // Its decode, every frame once and in order, from about its
            // first packet's arrival (or its first frame's, where that came
            // later), silence around it.
            const auto sound = [](const std::vector<int16_t>& v) {
                return static_cast<size_t>(std::find_if(v.begin(), v.end(), [](int16_t x) { return x != 0; }) -
                                           v.begin());
            };
            ASSERT_GE(sound(channel), sound(pcm));
            const size_t start = sound(channel) - sound(pcm);
            EXPECT_NEAR(static_cast<double>(start) / 8000, s.firstArrival - audio.start, c.caller.maxDelay);
            std::vector<int16_t> own(audio.length, 0);
            ASSERT_LE(start + pcm.size(), own.size());
            std::copy(pcm.begin(), pcm.end(), own.begin() + static_cast<long>(start));
            EXPECT_EQ(p.reanchors, 0u);
            EXPECT_TRUE(channel == own) << "the channel is not the stream's own decode";
            continue;
        }

        // The channel is the decode's samples where the segments put them,
        // silence elsewhere; no sample twice, none out of order.
        std::vector<int16_t> want(audio.length, 0);
        for (size_t k = 0; k < p.segments.size(); ++k) {
            const Segment& g = p.segments[k];
            if (k > 0) {
                const Segment& before = p.segments[k - 1];
                ASSERT_GE(g.from, before.from + before.count);
                ASSERT_GE(g.at, before.at + before.count);
                // Silence put between lies where the sender paused, or
                // beside quiet audio.
                const uint64_t frame = g.from / 240;
                const bool paused = std::any_of(made.packets[0].begin(), made.packets[0].end(),
                                                [&](const auto& q) { return q.afterPause && q.position == g.from; });
                if (g.at > before.at + before.count) {
                    EXPECT_TRUE(paused || Quiet(pcm, frame) || (frame > 0 && Quiet(pcm, frame - 1)))
                        << "silence put into speech at frame " << frame;
                }
            }
            std::copy(pcm.begin() + static_cast<long>(g.from), pcm.begin() + static_cast<long>(g.from + g.count),
                      want.begin() + static_cast<long>(g.at));
        }
        EXPECT_TRUE(channel == want);

        // Each packet's frame lies near its arrival: within the jitter and
        // the 250 ms a move may grow to before it is applied where it is.
        const double tolerance = 0.25 + (c.caller.maxDelay - c.caller.minDelay) + 0.03;
        std::optional<double> firstLag;
        std::set<uint64_t> sentFrames;
        double worst = 0;
        for (const capture::test::SentPacket& q : made.packets[0]) {
            sentFrames.insert(q.position / 240);
            const std::optional<uint64_t> at = PlacedAt(p.segments, q.position);
            if (!at)
                continue;
            const double lag = static_cast<double>(*at) / 8000 - (q.arrival - audio.start);
            if (!firstLag)
                firstLag = lag;
            worst = std::max(worst, std::fabs(lag - *firstLag));
        }
        EXPECT_LE(worst, tolerance);
        // What gave way had no packet, or was quiet.
        for (uint64_t frame = 0; frame < pcm.size() / 240; ++frame) {
            const bool whole = PlacedAt(p.segments, 240 * frame) && PlacedAt(p.segments, 240 * frame + 239);
            EXPECT_TRUE(whole || !sentFrames.count(frame) || Quiet(pcm, frame)) << "speech cut at frame " << frame;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Jitter, Placement, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<PlacementCase>& param) { return param.param.name; });

}  // namespace
}  // namespace mervox::media::calls
