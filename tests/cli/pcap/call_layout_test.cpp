// `mervox pcap` writing calls: a SIP call on a dynamic payload type with
// losses and jitter, an unsignalled pair and a stream that stalls, each as
// one recording whose channels are the streams' own decodes (as
// --layout streams writes them) placed at their first arrival; mixed
// recordings, -j, hostile names, and libsndfile's reader (through sox).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "capture_builder.h"
#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

using test::Bytes;

std::string Cli()
{
    const char* other = std::getenv("MERVOX_TEST_CLI");
    return other && *other ? other : MERVOX_CLI_PATH;
}

using mervox::test::Slurp;

// A capture assembled from packets at given times (microseconds from
// 1700000000 s, 2023-11-14 22:13:20 UTC), written in time order.
class TimedCapture {
public:
    void Add(uint64_t micros, const Bytes& ip) { packets_.emplace(micros, packets_.size(), test::Ethernet(ip)); }
    void Sip(uint64_t micros, const std::string& from, const std::string& to, const std::string& text)
    {
        Add(micros, test::Ipv4Udp(from, 5060, to, 5060, Bytes(text.begin(), text.end())));
    }
    // One frame of speech-a.63.bit per packet, packet k sent at RTP time
    // 240 k and arriving `arrival(k)` microseconds after `first`; packets
    // `lost` are left out.
    void Stream(const std::string& from, uint16_t fromPort, const std::string& to, uint16_t toPort, uint32_t ssrc,
                int payloadType, uint64_t first, size_t packets, const std::function<uint64_t(size_t)>& arrival,
                const std::set<size_t>& lost = {})
    {
        static const std::vector<Bytes> frames = test::StreamFrames("speech-a.63.bit");
        for (size_t k = 0; k < packets; ++k) {
            if (lost.count(k))
                continue;
            test::Rtp h;
            h.ssrc = ssrc;
            h.sequence = static_cast<uint16_t>(1 + k);
            h.timestamp = static_cast<uint32_t>(240 * k);
            h.payloadType = payloadType;
            Add(first + arrival(k), test::Ipv4Udp(from, fromPort, to, toPort, test::RtpBytes(h, frames[k % 400])));
        }
    }
    Bytes Pcap() const
    {
        test::Bytes out = test::PcapFileHeader(1);
        for (const auto& [micros, order, packet] : packets_) {
            const test::Bytes record = test::PcapRecord(packet, static_cast<uint32_t>(1700000000 + micros / 1000000),
                                                        static_cast<uint32_t>(micros % 1000000));
            out.insert(out.end(), record.begin(), record.end());
        }
        return out;
    }

private:
    std::set<std::tuple<uint64_t, size_t, test::Bytes>> packets_;
};

std::string SipMessage(const std::string& startLine, const std::vector<std::string>& headers,
                       const std::string& body = "")
{
    std::string m = startLine + "\r\n";
    for (const std::string& h : headers)
        m += h + "\r\n";
    if (!body.empty())
        m += "Content-Type: application/sdp\r\n";
    return m + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Sdp(const std::string& address, int port)
{
    return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\nm=audio " +
           std::to_string(port) + " RTP/AVP 96\r\na=rtpmap:96 G723/8000\r\n";
}

// A SIP call from a:port to b:port+1000 set up at `micros`, its media
// (payload type 96) starting a second later.
void SipCall(TimedCapture& c, uint64_t micros, const std::string& callId, const std::string& fromUser,
             const std::string& a, const std::string& b, uint16_t port)
{
    const std::vector<std::string> dialog = {"From: <sip:" + fromUser + "@example.com>;tag=f" + callId,
                                             "To: <sip:bob@example.com>", "Call-ID: " + callId, "CSeq: 1 INVITE"};
    std::vector<std::string> answer = dialog;
    answer[1] += ";tag=t" + callId;
    c.Sip(micros, a, b, SipMessage("INVITE sip:bob@example.com SIP/2.0", dialog, Sdp(a, port)));
    c.Sip(micros + 500000, b, a, SipMessage("SIP/2.0 200 OK", answer, Sdp(b, port + 1000)));
    c.Sip(micros + 600000, a, b, SipMessage("ACK sip:bob@example.com SIP/2.0", answer));
}

struct Wav {
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

Wav ReadWav(const std::string& path)
{
    const std::vector<uint8_t> b = mervox::test::ReadFileBytes(path);
    auto le32 = [&](size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    };
    Wav w;
    if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF") {
        ADD_FAILURE() << path << " is not a WAV file";
        return w;
    }
    for (size_t at = 12; at + 8 <= b.size();) {
        const std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 4));
        const size_t size = le32(at + 4);
        if (id == "fmt ") {
            w.channels = b[at + 10] | b[at + 11] << 8;
            EXPECT_EQ(le32(at + 12), 8000u);
            EXPECT_EQ(le32(at + 16), 8000u * 2 * static_cast<uint32_t>(w.channels));  // bytes per second
        }
        if (id == "data") {
            EXPECT_EQ(size, b.size() - at - 8);
            w.samples.resize((b.size() - at - 8) / 2);
            for (size_t i = 0; i < w.samples.size(); ++i)
                w.samples[i] = static_cast<int16_t>(b[at + 8 + 2 * i] | b[at + 9 + 2 * i] << 8);
            return w;
        }
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << path << " has no data chunk";
    return w;
}

class CallLayout : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "mervox-calls-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Runs the command; its standard output.
    std::string Mervox(const std::string& arguments, int expectedStatus = 0) const
    {
        const int status = std::system((Cli() + " " + arguments + " >'" + dir_ + "/stdout'").c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, expectedStatus) << arguments;
        return Slurp(dir_ + "/stdout");
    }
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(dir_ + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir_ + "/" + name;
    }
    // The files in `sub`, sorted.
    std::vector<std::string> Files(const std::string& sub) const
    {
        std::system(("ls -A '" + dir_ + "/" + sub + "' >'" + dir_ + "/list'").c_str());
        std::istringstream listed(Slurp(dir_ + "/list"));
        std::vector<std::string> files;
        for (std::string line; std::getline(listed, line);)
            files.push_back(line);
        return files;
    }

    std::string dir_;
};

// The SIP call (caller 0xa11ce from 1 s, callee 0xb0b from 1.2125 s,
// jitter up to 40 ms, a reordered pair and losses), the unsignalled pair
// (0xc0ffee from 2 s, 0xdecaf from 2.05 s) and the stalled stream
// (0xd41f7 from 3 s, 500 ms late from its 100th packet on: a sender that
// paused without advancing its timestamps).
Bytes ThreeCalls()
{
    TimedCapture c;
    SipCall(c, 0, "call-1", "alice", "10.0.0.1", "10.0.0.2", 4000);
    const auto jittered = [](size_t k) -> uint64_t { return 30000 * k + (k == 30 ? 40000 : (k * 7) % 5 * 4000); };
    c.Stream("10.0.0.1", 4000, "10.0.0.2", 5000, 0xa11ce, 96, 1000000, 100, jittered, {20, 21, 50});
    c.Stream("10.0.0.2", 5000, "10.0.0.1", 4000, 0xb0b, 96, 1212500, 80, jittered, {10});
    const auto steady = [](size_t k) -> uint64_t { return 30000 * k; };
    c.Stream("10.0.1.1", 7000, "10.0.1.2", 7002, 0xc0ffee, 4, 2000000, 60, steady);
    c.Stream("10.0.1.2", 7002, "10.0.1.1", 7000, 0xdecaf, 4, 2050000, 60, steady);
    c.Stream("10.0.2.1", 9000, "10.0.2.2", 9002, 0xd41f7, 4, 3000000, 300,
             [](size_t k) -> uint64_t { return 30000 * k + (k >= 100 ? 500000 : 0); });
    return c.Pcap();
}

// `stream` (samples) placed at `at` in a recording of `length` samples
// per channel, read from channel `channel` of `channels`.
void ExpectPlaced(const Wav& call, int channel, const std::vector<std::pair<size_t, std::vector<int16_t>>>& pieces)
{
    const auto channels = static_cast<size_t>(call.channels);
    std::vector<int16_t> want(call.samples.size() / channels, 0);
    for (const auto& [at, samples] : pieces) {
        ASSERT_LE(at + samples.size(), want.size());
        std::copy(samples.begin(), samples.end(), want.begin() + static_cast<long>(at));
    }
    for (size_t i = 0; i < want.size(); ++i)
        if (call.samples[i * channels + static_cast<size_t>(channel)] != want[i]) {
            ADD_FAILURE() << "channel " << channel << " differs first at sample " << i;
            return;
        }
}

TEST_F(CallLayout, ChannelsAreEachStreamsOwnDecodeAtItsFirstArrival)
{
    const std::string capture = Write("calls.pcap", ThreeCalls());
    Mervox("-q pcap --layout streams '" + capture + "' -o '" + dir_ + "/s/'");
    const auto own = [&](const std::string& ssrc) { return ReadWav(dir_ + "/s/calls-" + ssrc + ".wav").samples; };
    const std::vector<int16_t> alice = own("0x000a11ce"), bob = own("0x00000b0b"), pairA = own("0x00c0ffee"),
                               pairB = own("0x000decaf"), stalled = own("0x000d41f7");
    ASSERT_EQ(alice.size(), 100u * 240);  // the losses concealed
    ASSERT_EQ(bob.size(), 80u * 240);

    const nlohmann::json j = nlohmann::json::parse(Mervox("pcap --json '" + capture + "' -o '" + dir_ + "/c/'"));
    const std::string sip = dir_ + "/c/calls-20231114T221321Z-alice-bob.wav";
    const std::string pair = dir_ + "/c/calls-20231114T221322Z-10.0.1.1_7000-10.0.1.2_7002.wav";
    const std::string alone = dir_ + "/c/calls-20231114T221323Z-10.0.2.1_9000-10.0.2.2_9002.wav";
    EXPECT_EQ(Files("c"), (std::vector<std::string>{sip.substr(dir_.size() + 3), pair.substr(dir_.size() + 3),
                                                    alone.substr(dir_.size() + 3)}));

    const Wav sipWav = ReadWav(sip);
    ASSERT_EQ(sipWav.channels, 2);
    EXPECT_EQ(sipWav.samples.size(), 2 * std::max(alice.size(), 1700 + bob.size()));
    ExpectPlaced(sipWav, 0, {{0, alice}});
    ExpectPlaced(sipWav, 1, {{1700, bob}});  // 212.5 ms after the caller's first packet

    const Wav pairWav = ReadWav(pair);
    ASSERT_EQ(pairWav.channels, 2);
    ExpectPlaced(pairWav, 0, {{0, pairA}});  // seen first: the caller's side
    ExpectPlaced(pairWav, 1, {{400, pairB}});

    // 500 ms late from the 100th frame on: re-anchored where the packets
    // stopped, the stall silent.
    const Wav aloneWav = ReadWav(alone);
    ASSERT_EQ(aloneWav.channels, 1);
    ASSERT_EQ(stalled.size(), 300u * 240);
    EXPECT_EQ(aloneWav.samples.size(), 300u * 240 + 4000);
    ExpectPlaced(aloneWav, 0,
                 {{0, std::vector<int16_t>(stalled.begin(), stalled.begin() + 100 * 240)},
                  {100 * 240 + 4000, std::vector<int16_t>(stalled.begin() + 100 * 240, stalled.end())}});

    // The report: each call's file, each stream's place and re-anchorings.
    ASSERT_EQ(j["calls"].size(), 3u);
    EXPECT_EQ(j["calls"][0]["output"], sip);
    EXPECT_EQ(j["calls"][0]["written"], true);
    EXPECT_EQ(j["calls"][0]["channels"], 2);
    EXPECT_EQ(j["calls"][0]["recording_start_time"], 1700000001.0);
    EXPECT_EQ(j["calls"][2]["channels"], 1);
    std::map<std::string, nlohmann::json> streams;
    for (const nlohmann::json& s : j["streams"])
        streams[s["ssrc"]] = s;
    EXPECT_EQ(streams["0x000a11ce"]["output"], sip);
    EXPECT_EQ(streams["0x000a11ce"]["channel"], "left");
    EXPECT_EQ(streams["0x00000b0b"]["channel"], "right");
    EXPECT_EQ(streams["0x00000b0b"]["lost_frames"], 1);
    EXPECT_EQ(streams["0x00000b0b"]["reanchors"], 0);
    EXPECT_EQ(streams["0x000a11ce"]["reanchors"], 0);
    EXPECT_EQ(streams["0x000d41f7"]["reanchors"], 1);
    EXPECT_EQ(streams["0x000d41f7"]["channel"], "mono");
    EXPECT_EQ(streams["0x000d41f7"]["output"], alone);
    const std::string text = Mervox("pcap '" + capture + "' -o '" + dir_ + "/c/'");
    EXPECT_NE(text.find("file:           " + sip + " (stereo)"), std::string::npos) << text;
    EXPECT_NE(text.find("re-anchored:    0x000d41f7 1 time "), std::string::npos) << text;
    EXPECT_EQ(text.find("re-anchored:    0x000a11ce"), std::string::npos) << text;
    // No scratch file is left.
    EXPECT_EQ(Files("c").size(), 3u);
}

// A SIP call of 3 s each way, held (a=inactive) for `gap` with a refresh
// every 15 minutes, then resumed with new streams for 3 s: 10 minutes, a
// day and more. However the streams are put into calls, the recordings
// are bounded (silence where no stream has audio is cut to 60 s, and the
// cut reported), and every stream's audio is in its call's file whole.
TEST_F(CallLayout, SilenceOfALongHoldIsCut)
{
    for (const uint64_t gap : {600ull, 30ull * 3600, 40ull * 3600}) {
        SCOPED_TRACE(gap);
        TimedCapture c;
        SipCall(c, 0, "hold", "alice", "10.0.0.1", "10.0.0.2", 4000);
        const std::vector<std::string> dialog = {"From: <sip:alice@example.com>;tag=fhold",
                                                 "To: <sip:bob@example.com>;tag=thold", "Call-ID: hold"};
        const auto reinvite = [&](uint64_t micros, int cseq, const std::string& attribute) {
            std::vector<std::string> headers = dialog;
            headers.push_back("CSeq: " + std::to_string(cseq) + " INVITE");
            c.Sip(micros, "10.0.0.1", "10.0.0.2",
                  SipMessage("INVITE sip:bob@10.0.0.2 SIP/2.0", headers, Sdp("10.0.0.1", 4000) + attribute));
            c.Sip(micros + 100000, "10.0.0.2", "10.0.0.1",
                  SipMessage("SIP/2.0 200 OK", headers, Sdp("10.0.0.2", 5000) + attribute));
            headers.back() = "CSeq: " + std::to_string(cseq) + " ACK";
            c.Sip(micros + 200000, "10.0.0.1", "10.0.0.2", SipMessage("ACK sip:bob@10.0.0.2 SIP/2.0", headers));
        };
        const auto steady = [](size_t k) -> uint64_t { return 30000 * k; };
        c.Stream("10.0.0.1", 4000, "10.0.0.2", 5000, 0xa11ce, 96, 1000000, 100, steady);
        c.Stream("10.0.0.2", 5000, "10.0.0.1", 4000, 0xb0b, 96, 1050000, 100, steady);
        int cseq = 2;
        for (uint64_t at = 4; at < 4 + gap; at += 900)
            reinvite(at * 1000000, cseq++, "a=inactive\r\n");
        const uint64_t resumed = (4 + gap) * 1000000;
        reinvite(resumed, cseq++, "");
        c.Stream("10.0.0.1", 4000, "10.0.0.2", 5000, 0xc, 96, resumed + 1000000, 100, steady);
        c.Stream("10.0.0.2", 5000, "10.0.0.1", 4000, 0xd, 96, resumed + 1050000, 100, steady);
        const std::string capture = Write("hold.pcap", c.Pcap());
        std::system(("rm -rf '" + dir_ + "/s' '" + dir_ + "/c'").c_str());
        const nlohmann::json own =
            nlohmann::json::parse(Mervox("pcap --json --layout streams '" + capture + "' -o '" + dir_ + "/s/'"));
        const nlohmann::json j = nlohmann::json::parse(Mervox("pcap --json '" + capture + "' -o '" + dir_ + "/c/'"));
        ASSERT_EQ(j["streams"].size(), 4u);
        uint64_t recorded = 0;
        for (const nlohmann::json& call : j["calls"]) {
            ASSERT_EQ(call["written"], true);
            recorded += static_cast<uint64_t>(ReadWav(call["output"]).samples.size());
        }
        // About 6 s of audio a side, and at most a minute of silence.
        EXPECT_LE(recorded, 2u * (7 + 60) * 8000);
        for (size_t i = 0; i < 4; ++i) {
            const nlohmann::json& s = j["streams"][i];
            const Wav call = ReadWav(s["output"]);
            const std::vector<int16_t> alone = ReadWav(own["streams"][i]["output"]).samples;
            std::vector<int16_t> channel;
            for (size_t k = s["channel"] == "right" ? 1 : 0; k < call.samples.size(); k += call.channels)
                channel.push_back(call.samples[k]);
            EXPECT_NE(std::search(channel.begin(), channel.end(), alone.begin(), alone.end()), channel.end())
                << s["ssrc"] << "'s audio is not whole in " << s["output"];
        }
        // In one call, the silence of the hold is cut to a minute.
        ASSERT_EQ(j["calls"].size(), 1u);
        ASSERT_EQ(j["calls"][0]["silence_cuts"].size(), 1u);
        const nlohmann::json& cut = j["calls"][0]["silence_cuts"][0];
        EXPECT_NEAR(cut["recording_time"].get<double>(), 3.05 + 60, 0.001);
        // From the callee's last packet (4.05 s) to the resumed caller's first.
        EXPECT_NEAR(cut["seconds"].get<double>(), static_cast<double>(gap) + 5 - 4.05 - 60, 0.001);
        EXPECT_NEAR(cut["capture_time"].get<double>(), 1700000001 + 3.05 + 60, 0.001);
        EXPECT_NEAR(j["calls"][0]["recording_seconds"].get<double>(), 3.05 + 60 + 3.05, 0.001);
    }
}

// The corpus capture was generated: 117 s of speech per direction in 0.2 s
// of capture time. Anchored to those arrivals the calls would keep 0.2 s;
// each stream keeps its RTP timeline whole instead.
TEST_F(CallLayout, AStreamFasterThanRealTimeKeepsItsTimeline)
{
    const std::string capture = mervox::test::DataPath("corpus/call-a.pcapng");
    const nlohmann::json own =
        nlohmann::json::parse(Mervox("pcap --json --layout streams '" + capture + "' -o '" + dir_ + "/s/'"));
    const nlohmann::json j = nlohmann::json::parse(Mervox("pcap --json '" + capture + "' -o '" + dir_ + "/c/'"));
    ASSERT_EQ(j["streams"].size(), own["streams"].size());
    ASSERT_FALSE(j["calls"].empty());
    for (size_t i = 0; i < j["streams"].size(); ++i) {
        const nlohmann::json& s = j["streams"][i];
        EXPECT_EQ(s["faster_than_real_time"], true);
        EXPECT_EQ(s["reanchors"], 0);
        const std::vector<int16_t> alone = ReadWav(own["streams"][i]["output"]).samples;
        const Wav call = ReadWav(s["output"]);
        const int channel = s["channel"] == "right" ? 1 : 0;
        const double late = s["first_packet_time"].get<double>() -
                            j["calls"][s["call"].get<size_t>()]["recording_start_time"].get<double>();
        ASSERT_GT(alone.size(), 100000u);  // minutes of speech, not the 0.2 s of arrivals
        ExpectPlaced(call, channel, {{static_cast<size_t>(std::llround(late * 8000)), alone}});
    }
}

TEST_F(CallLayout, MixedIsTheSaturatedSumAndJobsChangeNothing)
{
    const std::string capture = Write("calls.pcap", ThreeCalls());
    const std::string json1 = Mervox("pcap --json -j 1 '" + capture + "' -o '" + dir_ + "/one/'");
    const std::string json4 = Mervox("pcap --json -j 4 '" + capture + "' -o '" + dir_ + "/one/'");
    EXPECT_EQ(json1, json4);
    Mervox("-q pcap -j 4 '" + capture + "' -o '" + dir_ + "/four/'");
    const std::vector<std::string> files = Files("one");
    ASSERT_EQ(files.size(), 3u);
    ASSERT_EQ(Files("four"), files);
    for (const std::string& f : files)
        EXPECT_EQ(Slurp(dir_ + "/one/" + f), Slurp(dir_ + "/four/" + f)) << f;

    Mervox("-q pcap --layout mixed -j 1 '" + capture + "' -o '" + dir_ + "/mixed/'");
    Mervox("-q pcap --layout mixed -j 4 '" + capture + "' -o '" + dir_ + "/mixed4/'");
    ASSERT_EQ(Files("mixed"), files);
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        const Wav stereo = ReadWav(dir_ + "/one/" + f), mixed = ReadWav(dir_ + "/mixed/" + f);
        EXPECT_EQ(Slurp(dir_ + "/mixed/" + f), Slurp(dir_ + "/mixed4/" + f));
        ASSERT_EQ(mixed.channels, 1);
        if (stereo.channels == 1) {
            EXPECT_EQ(mixed.samples, stereo.samples);
            continue;
        }
        ASSERT_EQ(mixed.samples.size() * 2, stereo.samples.size());
        for (size_t i = 0; i < mixed.samples.size(); ++i) {
            const int sum = stereo.samples[2 * i] + stereo.samples[2 * i + 1];
            ASSERT_EQ(mixed.samples[i], std::clamp(sum, -32768, 32767)) << i;
        }
    }
}

TEST_F(CallLayout, HostileCallersGiveSafeNames)
{
    TimedCapture c;
    const std::vector<std::string> users = {
        "../../../escaped", "a/b\\c<d>e:f|g?h*", "CON", std::string(10240, 'A'), "alice", "ALICE",
        "dots..",           "\x1b[31mred"};
    for (size_t i = 0; i < users.size(); ++i) {
        const std::string a = "10.1." + std::to_string(i) + ".1", b = "10.1." + std::to_string(i) + ".2";
        const auto port = static_cast<uint16_t>(4000 + 2 * i);
        SipCall(c, 1000 * i, "hostile-" + std::to_string(i), users[i], a, b, port);
        c.Stream(a, port, b, static_cast<uint16_t>(port + 1000), 0x100 + static_cast<uint32_t>(i), 96,
                 1000000 + 1000 * i, 5, [](size_t k) -> uint64_t { return 30000 * k; });
    }
    std::system(("mkdir -p '" + dir_ + "/out'").c_str());
    const std::string capture = Write("hostile.pcap", c.Pcap());
    const nlohmann::json j = nlohmann::json::parse(Mervox("pcap --json '" + capture + "' -o '" + dir_ + "/out/'"));
    const std::vector<std::string> files = Files("out");
    EXPECT_EQ(files.size(), users.size());
    EXPECT_EQ(Files("").size(), 4u);  // hostile.pcap, out, stdout, list: nothing beside them
    std::set<std::string> lower;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        EXPECT_EQ(f.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_+=@,~%."),
                  std::string::npos);
        EXPECT_EQ(f.find(".."), std::string::npos);
        EXPECT_LE(f.size(), 200u);
        std::string l = f;
        std::transform(l.begin(), l.end(), l.begin(), [](unsigned char ch) { return std::tolower(ch); });
        EXPECT_TRUE(lower.insert(l).second);  // distinct also without case
    }
    std::set<std::string> outputs;
    for (const nlohmann::json& call : j["calls"])
        if (call["signalled"] == true)
            outputs.insert(call["output"].get<std::string>().substr(dir_.size() + 5));
    EXPECT_TRUE(outputs.count("hostile-20231114T221321Z-%2E%2E%2F%2E%2E%2F%2E%2E%2Fescaped-bob.wav"));
    EXPECT_TRUE(std::any_of(outputs.begin(), outputs.end(),
                            [](const std::string& o) { return o.find("-a%2Fb%5Cc%3Cd") != std::string::npos; }));
    EXPECT_TRUE(outputs.count("hostile-20231114T221321Z-CON_-bob.wav"));
    EXPECT_TRUE(outputs.count("hostile-20231114T221321Z-alice-bob.wav"));
    EXPECT_TRUE(outputs.count("hostile-20231114T221321Z-ALICE-bob-2.wav"));
}

// A capture's name of 200 characters and callers' names of 64 make names
// beyond the file system's 255 bytes: cut, the call not lost.
TEST_F(CallLayout, LongNamesAreCutToTheLimitNotLost)
{
    TimedCapture c;
    for (uint16_t i = 0; i < 2; ++i) {  // the same parties twice: the second name takes "-2"
        const std::string a = "10.2." + std::to_string(i) + ".1", b = "10.2." + std::to_string(i) + ".2";
        const auto port = static_cast<uint16_t>(4000 + 2 * i);
        SipCall(c, 1000 * i, "long-" + std::to_string(i), std::string(100, 'u'), a, b, port);
        c.Stream(a, port, b, static_cast<uint16_t>(port + 1000), 0x200 + i, 96, 1000000, 5,
                 [](size_t k) -> uint64_t { return 30000 * k; });
    }
    std::system(("mkdir -p '" + dir_ + "/out'").c_str());
    const std::string capture = Write(std::string(200, 'n') + ".pcap", c.Pcap());
    const nlohmann::json j = nlohmann::json::parse(Mervox("pcap --json '" + capture + "' -o '" + dir_ + "/out/'"));
    const std::vector<std::string> files = Files("out");
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& f : files) {
        EXPECT_LE(f.size(), 255u) << f;
        EXPECT_EQ(f.rfind(std::string(150, 'n'), 0), 0u) << f;
        EXPECT_NE(f.find("-20231114T221321Z-uuu"), std::string::npos) << f;
    }
    ASSERT_EQ(j["calls"].size(), 2u);
    const std::string second = j["calls"][1]["output"];
    EXPECT_EQ(second.substr(second.size() - 6), "-2.wav");
    EXPECT_TRUE(std::set<std::string>({j["calls"][0]["output"], second}) ==
                std::set<std::string>({dir_ + "/out/" + files[0], dir_ + "/out/" + files[1]}));
}

TEST_F(CallLayout, SoxReadsTheStereoFile)
{
    if (std::system("command -v soxi >/dev/null 2>&1") != 0) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true")
            FAIL() << "soxi (package sox) is missing";
        GTEST_SKIP() << "soxi (package sox) is missing";
    }
    const std::string capture = Write("calls.pcap", ThreeCalls());
    Mervox("-q pcap '" + capture + "' -o '" + dir_ + "/c/'");
    const std::string sip = dir_ + "/c/calls-20231114T221321Z-alice-bob.wav";
    const size_t samples = ReadWav(sip).samples.size() / 2;
    ASSERT_GT(samples, 0u);
    std::system(("soxi -c '" + sip + "' >'" + dir_ + "/channels' && soxi -s '" + sip + "' >'" + dir_ +
                 "/samples' && soxi -r '" + sip + "' >'" + dir_ + "/rate'")
                    .c_str());
    EXPECT_EQ(Slurp(dir_ + "/channels"), "2\n");
    EXPECT_EQ(Slurp(dir_ + "/samples"), std::to_string(samples) + "\n");
    EXPECT_EQ(Slurp(dir_ + "/rate"), "8000\n");
}

}  // namespace
}  // namespace mervox::media::capture
