// The per-stream figures of `mervox pcap --json` against Wireshark's own:
// tshark's `-z rtp,streams` table (packets, lost, min/mean/max delta and
// jitter) on the corpus capture and on captures made here with losses,
// reordering, duplicates, jitter, talkspurt markers, telephone events,
// wraps of the sequence number and timestamp, and times in nanoseconds.
// Each figure must read the same at tshark's precision. Skipped without
// tshark (a failure under CI=true).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "capture_builder.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

using test::Bytes;

std::string Cli()
{
    const char* other = std::getenv("MERVOX_TEST_CLI");
    return other && *other ? other : MERVOX_CLI_PATH;
}

// Standard output of a shell command; the exit status in *status.
std::string RunShell(const std::string& command, int* status)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int s = pclose(pipe);
    *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return out;
}

bool HaveTshark()
{
    int status = 0;
    RunShell("command -v tshark >/dev/null 2>&1", &status);
    return status == 0;
}

// One row of tshark's table, the figures as printed.
struct TsharkRow {
    std::string ssrc;
    int sourcePort = 0, destinationPort = 0;
    long long packets = 0, lost = 0;
    std::vector<std::string> figures;  // min, mean, max delta; min, mean, max jitter
};

std::vector<TsharkRow> TsharkStreams(const std::string& capture)
{
    int status = 0;
    const std::string out =
        RunShell("tshark -n -q -z rtp,streams --enable-heuristic rtp_udp -r '" + capture + "' 2>/dev/null", &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<TsharkRow> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        // start end source port destination port SSRC payload... packets lost (percent) six figures [X]
        if (w.size() < 17 || w[6].rfind("0x", 0) != 0)
            continue;
        if (w.back() == "X")
            w.pop_back();
        TsharkRow r;
        r.ssrc = w[6];  // in capitals, as "0x0A0B0C0D"
        for (char& c : r.ssrc)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        r.sourcePort = std::stoi(w[3]);
        r.destinationPort = std::stoi(w[5]);
        const size_t figures = w.size() - 6;
        r.figures.assign(w.begin() + static_cast<std::ptrdiff_t>(figures), w.end());
        r.lost = std::stoll(w[figures - 2]);
        r.packets = std::stoll(w[figures - 3]);
        rows.push_back(r);
    }
    return rows;
}

std::string Fixed3(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

class CaptureQualityTshark : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTshark()) {
            const char* ci = std::getenv("CI");
            if (ci && std::string(ci) == "true")
                FAIL() << "tshark is missing (Debian package tshark)";
            GTEST_SKIP() << "tshark is missing (Debian package tshark): figures not compared with Wireshark's";
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = ::testing::TempDir() + "mervox-tshark-" + info->name();
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
    }
    void TearDown() override
    {
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // Compares every stream tshark finds with mervox's; returns how many.
    size_t Compare(const std::string& capture)
    {
        const std::vector<TsharkRow> rows = TsharkStreams(capture);
        int status = 0;
        const std::string out =
            RunShell(Cli() + " pcap --layout streams '" + capture + "' -o '" + dir_ + "/' --json 2>/dev/null", &status);
        EXPECT_EQ(status, 0);
        report_ = nlohmann::json::parse(out);
        const nlohmann::json& report = report_;
        for (const TsharkRow& row : rows) {
            SCOPED_TRACE(row.ssrc + " from port " + std::to_string(row.sourcePort));
            const nlohmann::json* stream = nullptr;
            for (const nlohmann::json& s : report["streams"])
                if (s["ssrc"] == row.ssrc && s["source"]["port"] == row.sourcePort &&
                    s["destination"]["port"] == row.destinationPort)
                    stream = &s;
            if (!stream) {
                ADD_FAILURE() << "mervox has no such stream";
                continue;
            }
            const nlohmann::json& q = (*stream)["quality"];
            EXPECT_EQ(q["packets"].get<long long>(), row.packets);
            EXPECT_EQ(q["lost"].get<long long>(), row.lost);
            const std::vector<std::string> ours = {Fixed3(q["delta_ms"]["min"]),   Fixed3(q["delta_ms"]["mean"]),
                                                   Fixed3(q["delta_ms"]["max"]),   Fixed3(q["jitter_ms"]["min"]),
                                                   Fixed3(q["jitter_ms"]["mean"]), Fixed3(q["jitter_ms"]["max"])};
            EXPECT_EQ(ours, row.figures);
        }
        return rows.size();
    }

    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // What the capture holds, that the comparison covers it: each stream
    // has losses, repeats and packets out of order.
    void ExpectEveryDisorder() const
    {
        for (const nlohmann::json& s : report_["streams"]) {
            const nlohmann::json& q = s["quality"];
            EXPECT_GT(q["expected"].get<long long>() + q["duplicates"].get<long long>(), q["packets"].get<long long>());
            EXPECT_GT(q["duplicates"].get<long long>(), 0);
            EXPECT_GT(q["out_of_order"].get<long long>(), 0);
        }
    }

    std::string dir_;
    nlohmann::json report_;
};

// A classic pcap file with nanosecond times (Ethernet), records in the
// order given.
class NanosecondPcap {
public:
    NanosecondPcap()
    {
        Put32(0xa1b23c4d);
        Put16(2);
        Put16(4);
        Put32(0);
        Put32(0);
        Put32(65535);
        Put32(1);
    }
    void Add(int64_t ns, const Bytes& ip)
    {
        const Bytes frame = test::Ethernet(ip);
        Put32(static_cast<uint32_t>(ns / 1000000000));
        Put32(static_cast<uint32_t>(ns % 1000000000));
        Put32(static_cast<uint32_t>(frame.size()));
        Put32(static_cast<uint32_t>(frame.size()));
        bytes_.insert(bytes_.end(), frame.begin(), frame.end());
    }
    const Bytes& bytes() const { return bytes_; }

private:
    void Put16(uint16_t v)
    {
        bytes_.push_back(static_cast<uint8_t>(v));
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
    }
    void Put32(uint32_t v)
    {
        Put16(static_cast<uint16_t>(v));
        Put16(static_cast<uint16_t>(v >> 16));
    }
    Bytes bytes_;
};

struct Record {
    int64_t ns;
    Bytes ip;
};

// A stream as a network delivers it: `count` packets of `frames` frames
// (6.3 kbit/s, or 5.3), sent every frames × 30 ms from `start`, each
// delayed by 0 to `jitterNs` (now and then 90 ms more), some lost, some
// repeated, neighbours swapped; a talkspurt marker every 50 packets and a
// telephone event of three packets (`eventType`, 0: none) in the middle.
struct StreamPlan {
    std::string source, destination;
    uint16_t sourcePort = 0, destinationPort = 0;
    uint32_t ssrc = 0;
    int payloadType = 4;
    int eventType = 0;
    int frames = 1;
    bool rate5300 = false;
    uint16_t firstSequence = 0;
    uint32_t firstTimestamp = 0;
    int count = 300;
    int64_t start = 0;
    int64_t jitterNs = 20000000;
};

void AddStream(const StreamPlan& plan, std::mt19937& random, std::vector<Record>& records)
{
    const size_t frameBytes = plan.rate5300 ? 20 : 24;
    Bytes payload;
    for (int f = 0; f < plan.frames; ++f) {
        Bytes frame(frameBytes, static_cast<uint8_t>(0x5a));
        frame[0] = plan.rate5300 ? 0x05 : 0x04;  // the type in the two low bits
        payload.insert(payload.end(), frame.begin(), frame.end());
    }
    const int64_t period = 30000000LL * plan.frames;
    uint16_t sequence = plan.firstSequence;
    auto packet = [&](int i, uint32_t timestamp, int type, bool marker, const Bytes& body) {
        test::Rtp h;
        h.sequence = sequence++;
        h.timestamp = timestamp;
        h.ssrc = plan.ssrc;
        h.payloadType = type;
        h.marker = marker;
        int64_t delay = static_cast<int64_t>(random() % static_cast<uint32_t>(plan.jitterNs));
        if (random() % 40 == 0)
            delay += 90000000;
        const Bytes ip = test::Ipv4Udp(plan.source, plan.sourcePort, plan.destination, plan.destinationPort,
                                       test::RtpBytes(h, body));
        if (random() % 33 == 0)
            return;  // lost
        records.push_back({plan.start + i * period + delay, ip});
        if (random() % 50 == 0)
            records.push_back({plan.start + i * period + delay + 1234567, ip});  // repeated
    };
    for (int i = 0; i < plan.count; ++i) {
        const uint32_t timestamp = plan.firstTimestamp + static_cast<uint32_t>(i * 240 * plan.frames);
        if (plan.eventType && i == plan.count / 2) {
            for (int k = 0; k < 3; ++k)  // digit 5, growing duration, the end bit on the last
                packet(i + k, timestamp, plan.eventType, k == 0,
                       {5, static_cast<uint8_t>(k == 2 ? 0x8a : 0x0a), 0, static_cast<uint8_t>(160 * (k + 1))});
            i += 2;
            continue;
        }
        packet(i, timestamp, plan.payloadType, i % 50 == 0, payload);
    }
}

// Records in time order, with neighbours swapped now and then (their
// times kept: the later-sent packet arrives first).
NanosecondPcap Assemble(std::vector<Record> records, std::mt19937& random)
{
    std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.ns < b.ns; });
    for (size_t i = 5; i + 1 < records.size(); i += 17 + random() % 11)
        std::swap(records[i].ip, records[i + 1].ip);
    NanosecondPcap pcap;
    for (const Record& r : records)
        pcap.Add(r.ns, r.ip);
    return pcap;
}

using test::SipMessage;
using test::Text;

std::string Sdp(const std::string& address, int port)
{
    return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\nm=audio " +
           std::to_string(port) + " RTP/AVP 96 101\r\na=rtpmap:96 G723/8000\r\na=rtpmap:101 telephone-event/8000\r\n";
}

TEST_F(CaptureQualityTshark, CorpusCaptureAgrees)
{
    EXPECT_EQ(Compare(mervox::test::DataPath("corpus/call-a.pcapng")), 2u);
}

// Unsignalled streams of payload type 4 (tshark finds them by its RTP
// heuristic): jitter, losses, repeats, swaps, markers, and wraps of both
// the sequence number and the timestamp within the stream.
TEST_F(CaptureQualityTshark, UnsignalledStreamsAgree)
{
    std::mt19937 random(7);
    std::vector<Record> records;
    const int64_t t0 = 1700000000LL * 1000000000 + 123456789;
    StreamPlan a;
    a.source = "192.0.2.1";
    a.destination = "192.0.2.2";
    a.sourcePort = 30000;
    a.destinationPort = 40000;
    a.ssrc = 0x0a0b0c0d;
    a.firstSequence = 65400;
    a.firstTimestamp = 0xffff0000u;
    a.start = t0;
    a.count = 400;
    AddStream(a, random, records);
    StreamPlan b = a;
    b.source = a.destination;
    b.destination = a.source;
    b.sourcePort = a.destinationPort;
    b.destinationPort = a.sourcePort;
    b.ssrc = 0x51525354;
    b.firstSequence = 1000;
    b.firstTimestamp = 5000;
    b.frames = 2;
    b.rate5300 = true;
    b.count = 200;
    b.start = t0 + 7777777;
    b.jitterNs = 45000000;
    AddStream(b, random, records);
    EXPECT_EQ(Compare(Write("unsignalled.pcap", Assemble(records, random).bytes())), 2u);
    ExpectEveryDisorder();
}

// A SIP call whose SDP maps G.723.1 to dynamic type 96 and telephone
// events to 101, both on each stream's SSRC: tshark finds the streams by
// the SDP, and the events (no clock) count as packets.
TEST_F(CaptureQualityTshark, SignalledCallWithEventsAgrees)
{
    std::mt19937 random(11);
    std::vector<Record> records;
    const int64_t t0 = 1700000100LL * 1000000000;
    const std::string alice = "10.0.0.1", bob = "10.0.0.2";
    const std::string callId = "Call-ID: quality-1@example.com";
    const std::string from = "From: <sip:alice@example.com>;tag=a1", to = "To: <sip:bob@example.com>";
    auto sip = [&](int64_t ns, bool fromAlice, const std::string& message) {
        records.push_back(
            {ns, test::Ipv4Udp(fromAlice ? alice : bob, 5060, fromAlice ? bob : alice, 5060, Text(message))});
    };
    sip(t0, true,
        SipMessage("INVITE sip:bob@example.com SIP/2.0",
                   {from, to, callId, "CSeq: 1 INVITE", "Content-Type: application/sdp"}, Sdp(alice, 40000)));
    sip(t0 + 50000000, false,
        SipMessage("SIP/2.0 200 OK", {from, to + ";tag=b1", callId, "CSeq: 1 INVITE", "Content-Type: application/sdp"},
                   Sdp(bob, 50000)));
    sip(t0 + 60000000, true,
        SipMessage("ACK sip:bob@10.0.0.2 SIP/2.0", {from, to + ";tag=b1", callId, "CSeq: 1 ACK"}, ""));
    StreamPlan a;
    a.source = alice;
    a.destination = bob;
    a.sourcePort = 40000;
    a.destinationPort = 50000;
    a.ssrc = 0x11110001;
    a.payloadType = 96;
    a.eventType = 101;
    a.firstSequence = 2000;
    a.firstTimestamp = 160000;
    a.start = t0 + 100000000;
    AddStream(a, random, records);
    StreamPlan b = a;
    std::swap(b.source, b.destination);
    std::swap(b.sourcePort, b.destinationPort);
    b.ssrc = 0x22220002;
    b.firstSequence = 9;
    b.start = t0 + 101234567;
    b.jitterNs = 35000000;
    AddStream(b, random, records);
    EXPECT_EQ(Compare(Write("sip-call.pcap", Assemble(records, random).bytes())), 2u);
    ExpectEveryDisorder();
    for (const nlohmann::json& s : report_["streams"])
        EXPECT_GT(s["call_payload_packets"].get<int>(), 0);
}

}  // namespace
}  // namespace mervox::media::capture
