// The HTML call report: the escaping of capture text, the streams' figures
// over time, the page's bounds, and the page itself rendered by a real
// browser (headless Chromium) and checked against `mervox pcap --json`
// (check_call_report.py).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture.h"
#include "capture_builder.h"
#include "quality/stream_series.h"
#include "recorder/decoded_capture.h"
#include "report/html_report.h"
#include "report/html_text.h"

namespace mervox::media::report {
namespace {

using capture::test::Bytes;
using report::HtmlEscape;

TEST(ReportText, EscapesMarkupControlsAndBrokenUtf8AndCutsLongValues)
{
    EXPECT_EQ(HtmlEscape("<script>alert(\"x\")</script>&'"),
              "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;");
    // Kept: plain text and valid UTF-8 of two, three and four bytes.
    EXPECT_EQ(HtmlEscape("Zo\xc3\xab \xe2\x86\x92 \xf0\x9f\x93\x9e"), "Zo\xc3\xab \xe2\x86\x92 \xf0\x9f\x93\x9e");
    // Control characters (C0, DEL, C1), a stray continuation byte, an
    // overlong '<', a surrogate and a sequence cut short: one U+FFFD each byte.
    std::string replaced;
    for (int i = 0; i < 10; ++i)
        replaced += "&#xFFFD;";
    EXPECT_EQ(
        HtmlEscape(std::string("a\x1b[2J\n\x7f") + "\xc2\x85" + "\x80" + "\xc0\xbc" + "\xed\xa0\x80" + "\xe2\x86"),
        "a&#xFFFD;[2J&#xFFFD;&#xFFFD;" + replaced);

    EXPECT_EQ(ShortText("short", 5), "short");
    EXPECT_EQ(ShortText("longer", 5), "long\xe2\x80\xa6");
    // Characters, not bytes: a cut never splits a UTF-8 sequence.
    EXPECT_EQ(ShortText("\xc3\xab\xc3\xab\xc3\xab\xc3\xab", 3), "\xc3\xab\xc3\xab\xe2\x80\xa6");

    // Links: nothing but a relative path, whatever the names hold.
    EXPECT_EQ(UrlPath("../a b/c:d#e?f\"<x>.wav"), "../a%20b/c%3Ad%23e%3Ff%22%3Cx%3E.wav");
    EXPECT_EQ(RelativePath("/w/pages/", "/w/audio/x.wav"), "../audio/x.wav");
    EXPECT_EQ(RelativePath("/w/", "/w/./audio/../audio/x.wav"), "audio/x.wav");
    EXPECT_EQ(RelativePath("/w/a/b", "/w/x.wav"), "../../x.wav");
}

TEST(StreamSeriesBuckets, SplitAtSecondsAndMergeInPairsBeyondTheCap)
{
    quality::StreamSeries s(4);
    // 40 frames from frame 20: 0.6 s to 1.8 s, across the first second.
    s.Frames(20, quality::StreamSeries::Slot::kLost, 40);
    ASSERT_EQ(s.buckets().size(), 2u);
    EXPECT_EQ(s.buckets()[0].lostFrames, 14u);  // frames 20..33 start before 1 s
    EXPECT_EQ(s.buckets()[1].lostFrames, 26u);
    // Samples: 0.5 s of full scale then 1 s of half scale from 0.5 s.
    const std::vector<int16_t> loud(4000, -32768), half(8000, 16384);
    s.Samples(0, loud.data(), loud.size());
    s.Samples(4000, half.data(), half.size());
    EXPECT_EQ(s.buckets()[0].samples, 8000u);
    EXPECT_EQ(s.buckets()[0].sumSquares, 4000ull * 32768 * 32768 + 4000ull * 16384 * 16384);
    EXPECT_NEAR(s.buckets()[1].LoudnessDbfs(), -6.0206, 1e-3);
    // Arrivals: lost packets per bucket as the total grew (and shrank).
    s.Arrival(100'000'000, 2.5, 0);
    s.Arrival(1'100'000'000, 7.0, 3);
    s.Arrival(1'200'000'000, 1.0, 2);  // a duplicate
    EXPECT_EQ(s.buckets()[1].lostPackets, 2);
    EXPECT_EQ(s.buckets()[1].jitterMaxMs, 7.0);
    EXPECT_EQ(s.widthNs(), quality::kSeriesBucketNs);
    // 9 s is past 4 one-second buckets: 2 s, then 4 s wide, sums kept.
    s.Arrival(9'000'000'000, 4.0, 5);
    EXPECT_EQ(s.widthNs(), 4 * quality::kSeriesBucketNs);
    ASSERT_EQ(s.buckets().size(), 3u);
    EXPECT_EQ(s.buckets()[0].lostFrames, 40u);
    EXPECT_EQ(s.buckets()[0].samples, 12000u);
    EXPECT_EQ(s.buckets()[0].packets, 3u);
    EXPECT_EQ(s.buckets()[0].lostPackets, 2);
    EXPECT_EQ(s.buckets()[0].jitterMaxMs, 7.0);
    EXPECT_EQ(s.buckets()[2].lostPackets, 3);
    // Hostile times stay within the cap.
    s.Arrival(INT64_MAX, 1.0, 5);
    s.Frames(UINT64_MAX / 2, quality::StreamSeries::Slot::kSpeech, 3);
    EXPECT_LE(s.buckets().size(), 4u);
}

// Appends a record at `micros` (capture time) to classic pcap bytes.
void Record(Bytes& capture, uint64_t micros, const Bytes& packet)
{
    const Bytes r = capture::test::PcapRecord(packet, static_cast<uint32_t>(1700000000 + micros / 1000000),
                                              static_cast<uint32_t>(micros % 1000000));
    capture.insert(capture.end(), r.begin(), r.end());
}

using capture::test::SipMessage;
using capture::test::Text;

std::string Sdp(const std::string& address, int port)
{
    return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\nm=audio " +
           std::to_string(port) + " RTP/AVP 96\r\na=rtpmap:96 G723/8000\r\n";
}

using capture::test::RtpPacket;

// Two calls, 10 s each: a SIP call whose From header carries markup (audio
// on dynamic payload type 96, the caller losing every 25th packet, the
// callee a burst of 15 and jitter of up to 80 ms from 5 s on), and an
// unsignalled pair on payload type 4 that arrives whole and in time.
Bytes TwoCalls(const std::string& from)
{
    static const std::vector<Bytes> frames = capture::test::StreamFrames("speech-a.63.bit");
    constexpr uint32_t kPackets = 333;
    std::vector<std::pair<uint64_t, Bytes>> records;
    const std::string a = "10.0.0.1", b = "10.0.0.2", callId = "Call-ID: report-1@example.com";
    const std::string to = "To: \"Bob & Co\" <sip:bob@example.com>";
    auto sip = [&](uint64_t micros, bool fromCaller, const std::string& text) {
        records.emplace_back(
            micros, capture::test::Ethernet(fromCaller ? capture::test::Ipv4Udp(a, 5060, b, 5060, Text(text))
                                                       : capture::test::Ipv4Udp(b, 5060, a, 5060, Text(text))));
    };
    sip(0, true,
        SipMessage("INVITE sip:bob@example.com SIP/2.0",
                   {from, to, callId, "CSeq: 1 INVITE", "Content-Type: application/sdp"}, Sdp(a, 4000)));
    sip(200000, false,
        SipMessage("SIP/2.0 200 OK", {from, to + ";tag=b1", callId, "CSeq: 1 INVITE", "Content-Type: application/sdp"},
                   Sdp(b, 5000)));
    sip(250000, true, SipMessage("ACK sip:bob@10.0.0.2 SIP/2.0", {from, to + ";tag=b1", callId, "CSeq: 1 ACK"}));
    const uint64_t start = 300000;
    for (uint32_t k = 0; k < kPackets; ++k) {
        const uint64_t due = start + k * 30000ull;
        if (k % 25 != 7)
            records.emplace_back(
                due + (k % 5) * 2000,
                capture::test::Ethernet(capture::test::Ipv4Udp(
                    a, 4000, b, 5000,
                    RtpPacket(0xca11e7, static_cast<uint16_t>(1000 + k), 240 * k, 96, frames[k % frames.size()]))));
        if (k < 200 || k >= 215)
            records.emplace_back(due + (k >= 166 ? (k % 3) * 40000 : 1000),
                                 capture::test::Ethernet(capture::test::Ipv4Udp(
                                     b, 5000, a, 4000,
                                     RtpPacket(0xca11ee, static_cast<uint16_t>(60000 + k), 240 * k, 96,
                                               frames[(k + 400) % frames.size()]))));
    }
    sip(start + kPackets * 30000ull + 100000, false,
        SipMessage("BYE sip:alice@10.0.0.1 SIP/2.0",
                   {"From: <sip:bob@example.com>;tag=b1", "To: " + from.substr(6), callId, "CSeq: 2 BYE"}));
    // The unsignalled pair, 20 s later.
    for (uint32_t k = 0; k < kPackets; ++k) {
        const uint64_t due = 20'000'000 + k * 30000ull;
        records.emplace_back(
            due, capture::test::Ethernet(capture::test::Ipv4Udp(
                     "10.1.0.1", 7000, "10.1.0.2", 7002,
                     RtpPacket(0x9a11, static_cast<uint16_t>(k), 240 * k, 4, frames[(k + 100) % frames.size()]))));
        records.emplace_back(
            due + 500,
            capture::test::Ethernet(capture::test::Ipv4Udp(
                "10.1.0.2", 7002, "10.1.0.1", 7000,
                RtpPacket(0x9a12, static_cast<uint16_t>(k), 240 * k, 4, frames[(k + 200) % frames.size()]))));
    }
    std::stable_sort(records.begin(), records.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    Bytes capture = capture::test::PcapFileHeader(1);
    for (const auto& [micros, packet] : records)
        Record(capture, micros, packet);
    return capture;
}

const std::string kScriptFrom = "From: \"<script>alert('from')</script>\" <sip:eve@example.com>;tag=a1";

TEST(ReportCapture, SeriesAddUpToTheStreamsFigures)
{
    const Bytes capture = TwoCalls(kScriptFrom);
    capture::CaptureOptions options;
    options.series = true;
    const recorder::DecodedCapture r = recorder::DecodeCaptureBytes(capture.data(), capture.size(), options);
    ASSERT_EQ(r.streams.size(), 4u);
    ASSERT_EQ(r.calls.size(), 2u);
    for (const timeline::RtpStream& s : r.streams) {
        SCOPED_TRACE(capture::SsrcText(s.ssrc));
        uint64_t speech = 0, silence = 0, lostFrames = 0, packets = 0;
        int64_t lost = 0;
        double jitter = 0;
        for (const quality::SeriesBucket& b : s.timelineSeries.buckets()) {
            speech += b.speechFrames;
            silence += b.silenceFrames;
            lostFrames += b.lostFrames;
        }
        for (const quality::SeriesBucket& b : s.quality.arrivals.buckets()) {
            packets += b.packets;
            lost += b.lostPackets;
            jitter = std::max(jitter, b.jitterMaxMs);
        }
        EXPECT_EQ(speech, s.stats.speechFrames);
        EXPECT_EQ(silence, s.stats.silenceFrames);
        EXPECT_EQ(lostFrames, s.stats.lostFrames);
        EXPECT_EQ(packets, s.quality.rtp.packets);
        EXPECT_EQ(lost, s.quality.rtp.lost);
        EXPECT_GE(jitter, s.quality.rtp.jitterMs.max);
        // One-second buckets over the stream's 10 s.
        EXPECT_EQ(s.timelineSeries.widthNs(), quality::kSeriesBucketNs);
        EXPECT_EQ(s.timelineSeries.buckets().size(), 10u);
    }
    // The callee's burst of 15 lies in seconds 6 and 6..7 of its stream.
    const timeline::RtpStream& callee = r.streams[1];
    EXPECT_EQ(callee.ssrc, 0xca11eeu);
    EXPECT_EQ(callee.stats.lostFrames, 15u);
    EXPECT_EQ(callee.timelineSeries.buckets()[6].lostFrames, 15u);
    EXPECT_GT(callee.quality.arrivals.buckets()[6].jitterMaxMs, 10.0);
    EXPECT_LT(callee.quality.arrivals.buckets()[2].jitterMaxMs, 1.0);
    // Without asking, nothing is kept.
    const recorder::DecodedCapture plain =
        recorder::DecodeCaptureBytes(capture.data(), capture.size(), capture::CaptureOptions());
    EXPECT_TRUE(plain.streams[1].timelineSeries.buckets().empty());
    EXPECT_TRUE(plain.streams[1].quality.arrivals.buckets().empty());
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

// Takes the streams and decodes nothing (the page needs their figures only).
class NoDecoding : public capture::StreamConsumer {
public:
    void StreamStarted(size_t, const timeline::StreamInfo&) override {}
    bool Frames(size_t, const uint8_t*, size_t, uint64_t) override { return true; }
    void StreamEnded(size_t, const timeline::RtpStream&) override {}
};

TEST(ReportCapture, ThousandsOfCallsStayWithinThePageBounds)
{
    // More one-direction calls than the table lists, each stream 3 s long
    // with a gap in it.
    Bytes capture = capture::test::PcapFileHeader(1);
    uint64_t micros = 0;
    capture::test::StreamSeries many;
    many.streams = kMaxTableRows + 100;
    many.packets = 4;
    many.stepFrames = 30;
    many.stepMicros = 10;
    capture::test::AppendStreams(capture, micros, many);
    capture::CaptureOptions options;
    options.series = true;
    NoDecoding none;
    const capture::CaptureReport r = capture::ReadCaptureBytes(capture.data(), capture.size(), options, none);
    ASSERT_EQ(r.calls.size(), capture::kMaxListedCalls);  // the first to close
    ASSERT_EQ(r.callsNotListed, 100u);
    ReportInput input;
    input.captureName = "many.pcap";
    input.capture = &r;
    input.pagePath = "/reports/many.html";
    input.audioFiles = [](size_t call) {
        return std::vector<std::string>{"/audio/call-" + std::to_string(call) + ".wav"};
    };
    const std::string page = ReportPage(input);
    EXPECT_LT(page.size(), kMaxPageBytes);
    EXPECT_EQ(Count(page, "<tr class=\"call "), kMaxTableRows);
    EXPECT_NE(page.find("100 more calls"), std::string::npos);
    EXPECT_EQ(Count(page, "<section class=\"detail\""), kDrawnCalls);
    EXPECT_NE(page.find(std::to_string(many.streams) + " calls, "), std::string::npos);
    EXPECT_NE(page.find("the " + std::to_string(kDrawnCalls) + " calls with the lowest MOS, of " +
                        std::to_string(capture::kMaxListedCalls)),
              std::string::npos);
    EXPECT_NE(page.find("href=\"../audio/call-0.wav\""), std::string::npos);
}

// A page that cannot be written is known before the capture is read:
// exit status 3 and no audio file, as for the audio's own directory.
TEST(ReportPage, UnwritableDirectoryStopsBeforeDecoding)
{
    const std::string dir = ::testing::TempDir() + "mervox-call-report-nowhere";
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    const Bytes capture = TwoCalls(kScriptFrom);
    {
        std::ofstream out(dir + "/two-calls.pcap", std::ios::binary);
        out.write(reinterpret_cast<const char*>(capture.data()), static_cast<std::streamsize>(capture.size()));
    }
    const char* other = std::getenv("MERVOX_TEST_CLI");
    const std::string cli = other && *other ? other : MERVOX_CLI_PATH;
    const int status = std::system((cli + " -q pcap '" + dir + "/two-calls.pcap' -o '" + dir + "/audio/' --report '" +
                                    dir + "/missing/calls.html' 2>'" + dir + "/stderr'")
                                       .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    std::ifstream err(dir + "/stderr");
    const std::string message((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(message.find("missing: cannot write the report there"), std::string::npos) << message;
    EXPECT_NE(std::system(("ls '" + dir + "/audio/'*.wav >/dev/null 2>&1").c_str()), 0) << "audio was decoded";
    std::system(("rm -rf '" + dir + "'").c_str());
}

// The page in a real browser: check_call_report.py runs `mervox pcap
// --json --report` on the two calls and renders the page with Chromium.
TEST(ReportPage, RendersInChromiumWithTheJsonsNumbers)
{
    const bool ci = std::getenv("CI") && std::string(std::getenv("CI")) == "true";
    const std::pair<std::string, const char*> needed[] = {{MERVOX_CHROMIUM, "chromium"},
                                                          {"/usr/bin/python3", "python3"}};
    for (const auto& [program, package] : needed)
        if (program.empty() || access(program.c_str(), X_OK) != 0) {
            if (ci)
                FAIL() << "the report test needs Debian's " << package << " (scripts/install-deps.sh)";
            GTEST_SKIP() << "skipped: no " << package << " (Debian package " << package << ")";
        }
    const std::string dir = ::testing::TempDir() + "mervox-call-report";
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    const Bytes capture = TwoCalls(kScriptFrom);
    {
        std::ofstream out(dir + "/two-calls.pcap", std::ios::binary);
        out.write(reinterpret_cast<const char*>(capture.data()), static_cast<std::streamsize>(capture.size()));
        ASSERT_TRUE(out.good());
    }
    const char* other = std::getenv("MERVOX_TEST_CLI");
    const std::string cli = other && *other ? other : MERVOX_CLI_PATH;
    const std::string command = "/usr/bin/python3 '" MERVOX_REPORT_CHECK "' --mervox '" + cli + "' --chromium '" +
                                MERVOX_CHROMIUM + "' --capture '" + dir + "/two-calls.pcap' --dir '" + dir + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << command << "\n(the capture, page and screenshot are kept in " << dir << ")";
    if (!HasFailure() && !std::getenv("MERVOX_KEEP_REPORT"))
        std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::report
