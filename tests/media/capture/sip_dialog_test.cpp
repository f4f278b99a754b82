// Which call a stream belongs to, through whole captures: one forged or
// spoofed message must not take, cut or merge a call, and the ordinary
// traffic of phones and servers (media moved to a music-on-hold server and
// back, NAT, forks, long holds, session refreshes, redirections,
// transfers, a 200 crossing a CANCEL, reliable provisional responses) must
// keep every stream in its call.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "capture/capture.h"
#include "capture_builder.h"
#include "signalling/sip_reader.h"

namespace mervox::media::capture {
namespace {

using calls::Call;
using calls::CallStream;
using net::Endpoint;
using test::Bytes;
using timeline::RtpStream;
using timeline::StreamInfo;

const std::string kAlice = "10.0.0.1", kBob = "10.0.0.2";
// Capture times count from here (test::TimedCapture).
constexpr double kEpoch = 1700000000;

std::string Sdp(const std::string& address, int port, const std::string& extra = "",
                const std::string& encoding = "G723/8000", const std::string& profile = "RTP/AVP")
{
    return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\nm=audio " +
           std::to_string(port) + " " + profile + " 96\r\na=rtpmap:96 " + encoding + "\r\n" + extra;
}

std::string Party(const std::string& user, const std::string& tag)
{
    return "<sip:" + user + "@example.com>" + (tag.empty() ? "" : ";tag=" + tag);
}

// A capture of SIP calls and their G.723.1 streams on payload type 96.
class Calls {
public:
    // One call's messages: the caller at `a` (tag aTag), the callee at `b`.
    struct Call {
        Calls& capture;
        std::string callId;
        std::string a = kAlice, b = kBob;
        std::string aTag = "a1", bTag = "b1";
        std::string aUser = "alice", bUser = "bob";

        void Send(double t, bool byCaller, const std::string& start, const std::string& from, const std::string& to,
                  const std::string& cseq, const std::string& sdp, const std::vector<std::string>& extra) const
        {
            std::vector<std::string> headers = {"Via: SIP/2.0/UDP " + (byCaller ? a : b), "From: " + from, "To: " + to,
                                                "Call-ID: " + callId, "CSeq: " + cseq};
            headers.insert(headers.end(), extra.begin(), extra.end());
            if (!sdp.empty())
                headers.push_back("Content-Type: application/sdp");
            capture.Sip(t, byCaller ? a : b, byCaller ? b : a, test::SipMessage(start, headers, sdp));
        }
        void Invite(double t, int cseq, const std::string& sdp, const std::vector<std::string>& extra = {}) const
        {
            Send(t, true, "INVITE sip:" + bUser + "@example.com SIP/2.0", Party(aUser, aTag), Party(bUser, ""),
                 std::to_string(cseq) + " INVITE", sdp, extra);
        }
        // A response of the callee (leg `tag`) to the caller's request.
        void Reply(double t, int status, int cseq, const std::string& method, const std::string& sdp = "",
                   const std::string& tag = "-") const
        {
            Send(t, false, "SIP/2.0 " + std::to_string(status) + " X", Party(aUser, aTag),
                 Party(bUser, tag == "-" ? bTag : tag), std::to_string(cseq) + " " + method, sdp, {});
        }
        // A request inside the dialog with leg `tag`, by either party, and
        // the other's 200 to it.
        void Request(double t, bool byCaller, const std::string& method, int cseq, const std::string& sdp = "",
                     const std::string& answer = "", const std::string& tag = "-") const
        {
            const std::string callee = Party(bUser, tag == "-" ? bTag : tag), caller = Party(aUser, aTag);
            const std::string c = std::to_string(cseq) + " " + method;
            Send(t, byCaller, method + " sip:x@example.com SIP/2.0", byCaller ? caller : callee,
                 byCaller ? callee : caller, c, sdp, {});
            if (method != "ACK")
                Send(t + 0.01, !byCaller, "SIP/2.0 200 OK", byCaller ? caller : callee, byCaller ? callee : caller, c,
                     answer, {});
        }
        // INVITE, 180, 200 and ACK: the caller's media at a:4000, the callee's at b:5000.
        void Setup(double t) const
        {
            Invite(t, 1, Sdp(a, 4000));
            Reply(t + 0.1, 180, 1, "INVITE");
            Reply(t + 0.5, 200, 1, "INVITE", Sdp(b, 5000));
            Request(t + 0.6, true, "ACK", 1);
        }
    };

    Call NewCall(const std::string& callId) { return Call{*this, callId}; }

    void Sip(double t, const std::string& from, const std::string& to, const std::string& text)
    {
        capture_.Add(t, test::Ethernet(test::Ipv4Udp(from, 5060, to, 5060, test::Text(text))));
    }
    // Packets of one 6.3 kbit/s frame every 30 ms from `t0` up to `t1`; a
    // stream's sequence numbers and timestamps go on where it left them.
    void Stream(double t0, double t1, const std::string& from, uint16_t fromPort, const std::string& to,
                uint16_t toPort, uint32_t ssrc, int payloadType = 96)
    {
        static const std::vector<Bytes> frames = test::StreamFrames("speech-a.63.bit");
        auto& [sequence, timestamp] = next_[ssrc];
        for (double t = t0; t < t1; t += 0.03) {
            const Bytes& frame = frames[sequence % frames.size()];
            capture_.Add(t,
                         test::Ethernet(test::Ipv4Udp(from, fromPort, to, toPort,
                                                      test::RtpPacket(ssrc, sequence, timestamp, payloadType, frame))));
            ++sequence;
            timestamp += 240;
        }
    }
    // Both directions of a call set up with Setup.
    void Media(const Call& c, double t0, double t1, uint32_t ssrcA = 0xa, uint32_t ssrcB = 0xb, int payloadType = 96)
    {
        Stream(t0, t1, c.a, 4000, c.b, 5000, ssrcA, payloadType);
        Stream(t0, t1, c.b, 5000, c.a, 4000, ssrcB, payloadType);
    }

    CaptureReport Read() const
    {
        // The frames are not decoded: only where they go matters here.
        class Ignore : public StreamConsumer {
            void StreamStarted(size_t, const StreamInfo&) override {}
            bool Frames(size_t, const uint8_t*, size_t, uint64_t) override { return true; }
            void StreamEnded(size_t, const RtpStream&) override {}
        } ignore;
        const Bytes bytes = capture_.bytes();
        return ReadCaptureBytes(bytes.data(), bytes.size(), CaptureOptions(), ignore);
    }

private:
    test::TimedCapture capture_;
    std::map<uint32_t, std::pair<uint16_t, uint32_t>> next_;
};

// The streams of each call, by SSRC (and by number past the first), and the
// calls by their Call-ID or, unsignalled, as "-".
std::vector<std::pair<std::string, std::vector<std::string>>> CallsOf(const CaptureReport& r)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> calls;
    for (const Call& c : r.calls) {
        std::vector<std::string> streams;
        for (const CallStream& s : c.streams)
            streams.push_back(SsrcText(r.streams[s.stream].ssrc).substr(8) +
                              (r.streams[s.stream].number > 1 ? "#" + std::to_string(r.streams[s.stream].number) : ""));
        calls.emplace_back(c.signalled ? r.dialogs[c.dialog].callId : "-", streams);
    }
    return calls;
}

using Expected = std::vector<std::pair<std::string, std::vector<std::string>>>;

struct Case {
    const char* name;
    std::function<void(Calls&)> build;
    Expected calls;  // each call's Call-ID (or "-") and streams (the SSRC's last two hex digits)
    std::function<void(const CaptureReport&)> check;
};

void Check(const Case& c)
{
    SCOPED_TRACE(c.name);
    Calls capture;
    c.build(capture);
    const CaptureReport r = capture.Read();
    ASSERT_EQ(r.status, CaptureStatus::kOk);
    EXPECT_EQ(CallsOf(r), c.calls);
    // Every packet of every stream was G.723.1 on payload type 96 as its call described it.
    EXPECT_EQ(r.counters.skipped[SkipReason::kOtherPayloadType], 0u);
    EXPECT_EQ(r.counters.skipped[SkipReason::kEncrypted], 0u);
    for (const RtpStream& s : r.streams)
        EXPECT_EQ(s.stats.lostFrames, 0u) << SsrcText(s.ssrc);
    if (c.check)
        c.check(r);
}

// An INVITE of another call that names the callee's media address, sent
// from elsewhere mid-call.
void Forge(Calls& capture, double t, const std::string& sdp)
{
    Calls::Call forger = capture.NewCall("forged");
    forger.a = "10.6.6.6";
    forger.aUser = "mallory";
    forger.Invite(t, 1, sdp);
}

const std::string kCrypto = "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz\r\n";

// What one forged packet did to a call before: took its media, cut it,
// or merged another call into it.
TEST(SipDialogs, OneForgedMessageNeitherTakesNorCutsNorMergesACall)
{
    const Case cases[] = {
        {"a forged INVITE with a=crypto names the callee's media",
         [](Calls& k) {
             const auto call = k.NewCall("call");
             call.Setup(0);
             k.Media(call, 1, 4);
             Forge(k, 2, Sdp(kBob, 5000, kCrypto, "G723/8000", "RTP/SAVP"));
         },
         {{"call", {"0a", "0b"}}, {"forged", {}}},
         nullptr},
        {"a forged INVITE maps payload type 96 to PCMU",
         [](Calls& k) {
             const auto call = k.NewCall("call");
             call.Setup(0);
             k.Media(call, 1, 4);
             Forge(k, 2, Sdp(kBob, 5000, "", "PCMU/8000"));
         },
         {{"call", {"0a", "0b"}}, {"forged", {}}},
         nullptr},
        {"a forged INVITE names an unsignalled call's media",
         [](Calls& k) {
             k.Stream(1, 4, kAlice, 4000, kBob, 5000, 0xa, 4);
             k.Stream(1, 4, kBob, 5000, kAlice, 4000, 0xb, 4);
             Forge(k, 2, Sdp(kBob, 5000, kCrypto, "G723/8000", "RTP/SAVP"));
         },
         {{"forged", {}}, {"-", {"0a", "0b"}}},
         nullptr},
        {"the caller hangs up on the second leg of a forked call",
         [](Calls& k) {
             const auto call = k.NewCall("forked");
             call.Invite(0, 1, Sdp(kAlice, 4000));
             call.Reply(0.5, 200, 1, "INVITE", Sdp(kBob, 5000), "b1");
             call.Reply(0.6, 200, 1, "INVITE", Sdp("10.0.0.3", 6000), "b2");
             call.Request(0.7, true, "ACK", 1, "", "", "b1");
             call.Request(0.8, true, "ACK", 1, "", "", "b2");
             call.Request(0.9, true, "BYE", 2, "", "", "b2");
             k.Media(call, 1, 200);  // long past the sweep of a call 64 s after its end
             call.Request(200, true, "BYE", 3, "", "", "b1");
         },
         {{"forked", {"0a", "0b"}}},
         [](const CaptureReport& r) {
             EXPECT_EQ(r.dialogs[0].byeTime - kEpoch, 200);
             EXPECT_EQ(r.calls[0].end - kEpoch, 200);
         }},
        {"a BYE with the call's Call-ID alone",
         [](Calls& k) {
             const auto call = k.NewCall("call");
             call.Setup(0);
             k.Media(call, 1, 6);
             k.Sip(2, "10.6.6.6", kBob,
                   test::SipMessage("BYE sip:bob@example.com SIP/2.0", {"Call-ID: call", "CSeq: 9 BYE"}));
             call.Request(6, true, "BYE", 2);
         },
         {{"call", {"0a", "0b"}}},
         [](const CaptureReport& r) { EXPECT_EQ(r.calls[0].end - kEpoch, 6); }},
        {"two calls reuse a Call-ID, other hosts 10 s after the first's BYE",
         [](Calls& k) {
             const auto first = k.NewCall("reused");
             first.Setup(0);
             k.Media(first, 1, 3);
             first.Request(3, true, "BYE", 2);
             auto second = k.NewCall("reused");
             second.a = "10.0.1.1";
             second.b = "10.0.1.2";
             second.aUser = "carol";
             second.aTag = "c1";
             second.Setup(13);
             k.Media(second, 14, 16, 0xc, 0xd);
             second.Request(16, true, "BYE", 2);
         },
         {{"reused", {"0a", "0b"}}, {"reused", {"0c", "0d"}}},
         [](const CaptureReport& r) {
             ASSERT_EQ(r.dialogs.size(), 2u);
             EXPECT_EQ(r.dialogs[1].from.uri, "sip:carol@example.com");
         }},
        {"a new INVITE with the Call-ID and From tag of a call that has ended",
         [](Calls& k) {
             const auto call = k.NewCall("again");
             call.Setup(0);
             k.Media(call, 1, 3);
             call.Request(3, true, "BYE", 2);
             call.Invite(20, 3, Sdp(kAlice, 4000));
             call.Reply(20.5, 200, 3, "INVITE", Sdp(kBob, 5000), "b2");
             call.Request(20.6, true, "ACK", 3, "", "", "b2");
             k.Media(call, 21, 23, 0xc, 0xd);
         },
         {{"again", {"0a", "0b"}}, {"again", {"0c", "0d"}}},
         nullptr},
        {"a stream on a call's addresses an hour after its last packet",
         [](Calls& k) {
             const auto call = k.NewCall("call");
             call.Setup(0);
             k.Media(call, 1, 3);
             k.Media(call, 3600, 3602, 0xc, 0xd, 4);
         },
         {{"call", {"0a", "0b"}}, {"-", {"0c", "0d"}}},
         nullptr},
    };
    for (const Case& c : cases)
        Check(c);
}

TEST(SipDialogs, OrdinaryTrafficKeepsEveryStreamInItsCall)
{
    const Case cases[] = {
        {"a re-INVITE moves the media to a music-on-hold server and back",
         [](Calls& k) {
             const auto call = k.NewCall("moh");
             call.Setup(0);
             k.Media(call, 1, 10);
             call.Request(10, false, "INVITE", 1, Sdp("10.0.0.9", 9000, "a=sendonly\r\n"),
                          Sdp(kAlice, 4000, "a=recvonly\r\n"));
             call.Request(10.1, false, "ACK", 1);
             k.Stream(10.5, 40, "10.0.0.9", 9000, kAlice, 4000, 0xe);
             call.Request(40, false, "INVITE", 2, Sdp(kBob, 5000), Sdp(kAlice, 4000));
             call.Request(40.1, false, "ACK", 2);
             k.Media(call, 40.5, 50);
             call.Request(50, true, "BYE", 2);
         },
         {{"moh", {"0a", "0b", "0e"}}},
         nullptr},
        {"phones behind NAT send from where they receive; the SDP names private addresses",
         [](Calls& k) {
             auto call = k.NewCall("nat");
             call.Invite(0, 1, Sdp("192.168.1.10", 4000));
             call.Reply(0.5, 200, 1, "INVITE", Sdp(kBob, 5000));
             call.Request(0.6, true, "ACK", 1);
             k.Stream(1, 4, "203.0.113.5", 31000, kBob, 5000, 0xa);
             k.Stream(1, 4, kBob, 5000, "203.0.113.5", 31000, 0xb);
         },
         {{"nat", {"0a", "0b"}}},
         nullptr},
        {"early media from one fork, then the 200 of another",
         [](Calls& k) {
             const auto call = k.NewCall("fork");
             call.Invite(0, 1, Sdp(kAlice, 4000));
             call.Reply(0.2, 183, 1, "INVITE", Sdp("10.0.0.3", 6000), "b1");
             k.Stream(0.3, 3, "10.0.0.3", 6000, kAlice, 4000, 0xe);
             call.Reply(3, 200, 1, "INVITE", Sdp(kBob, 5000), "b2");
             call.Request(3.1, true, "ACK", 1, "", "", "b2");
             k.Media(call, 3.5, 8);
             call.Request(8, true, "BYE", 2, "", "", "b2");
         },
         {{"fork", {"0e", "0a", "0b"}}},
         [](const CaptureReport& r) { EXPECT_EQ(r.calls[0].end - kEpoch, 8); }},
        {"hold and resume with a=inactive for 10 minutes",
         [](Calls& k) {
             const auto call = k.NewCall("hold");
             call.Setup(0);
             k.Media(call, 1, 10);
             call.Request(10, true, "INVITE", 2, Sdp(kAlice, 4000, "a=inactive\r\n"),
                          Sdp(kBob, 5000, "a=inactive\r\n"));
             call.Request(10.1, true, "ACK", 2);
             call.Request(610, true, "INVITE", 3, Sdp(kAlice, 4000), Sdp(kBob, 5000));
             call.Request(610.1, true, "ACK", 3);
             k.Media(call, 611, 620, 0xc, 0xd);  // the phones start new streams
             call.Request(620, true, "BYE", 4);
         },
         {{"hold", {"0a", "0b", "0c", "0d"}}},
         nullptr},
        {"session refreshes every 15 minutes repeat the SDP",
         [](Calls& k) {
             const auto call = k.NewCall("timer");
             call.Setup(0);
             k.Media(call, 1, 1861);
             call.Request(900, true, "INVITE", 2, Sdp(kAlice, 4000), Sdp(kBob, 5000));
             call.Request(900.1, true, "ACK", 2);
             call.Request(1800, false, "UPDATE", 1, Sdp(kBob, 5000), Sdp(kAlice, 4000));
             call.Request(1861, true, "BYE", 3);
         },
         {{"timer", {"0a", "0b"}}},
         [](const CaptureReport& r) { EXPECT_EQ(r.dialogs[0].media.size(), 2u); }},
        {"a challenge and a redirection, then the INVITE again",
         [](Calls& k) {
             const auto call = k.NewCall("again");
             call.Invite(0, 1, Sdp(kAlice, 4000));
             call.Reply(0.1, 401, 1, "INVITE", "", "proxy");
             call.Request(0.2, true, "ACK", 1, "", "", "proxy");
             call.Invite(0.3, 2, Sdp(kAlice, 4000));
             call.Reply(0.4, 302, 2, "INVITE", "", "redirect");
             call.Request(0.5, true, "ACK", 2, "", "", "redirect");
             call.Invite(0.6, 3, Sdp(kAlice, 4000));
             call.Reply(0.8, 200, 3, "INVITE", Sdp(kBob, 5000));
             call.Request(0.9, true, "ACK", 3);
             k.Media(call, 1, 4);
         },
         {{"again", {"0a", "0b"}}},
         [](const CaptureReport& r) { EXPECT_EQ(r.dialogs[0].finalStatus, 200); }},
        {"a transfer: an INVITE with Replaces takes over the call, the relay keeps its port",
         [](Calls& k) {
             const auto call = k.NewCall("first");
             call.Setup(0);
             k.Media(call, 1, 15);
             call.Request(9, false, "REFER", 1);
             auto transfer = k.NewCall("transfer");
             transfer.a = "10.0.0.7";
             transfer.b = kAlice;
             transfer.aUser = "carol";
             transfer.aTag = "c1";
             transfer.bTag = "a9";
             transfer.Invite(10, 1, Sdp(kBob, 5000), {"Replaces: first;to-tag=a1;from-tag=b1"});
             transfer.Reply(10.2, 200, 1, "INVITE", Sdp(kAlice, 4000));
             transfer.Request(10.3, true, "ACK", 1);
             call.Request(10.4, true, "BYE", 2);
             transfer.Request(15, true, "BYE", 2);
         },
         {{"first", {"0a", "0b"}}, {"transfer", {}}},
         [](const CaptureReport& r) {
             EXPECT_EQ(r.dialogs[1].replaces, 0u);
             for (const RtpStream& s : r.streams) {
                 ASSERT_EQ(s.moveCount, 1u);
                 EXPECT_EQ(s.moves[0].to, 1u);
                 EXPECT_GT(s.moves[0].time - kEpoch, 10.2);
             }
         }},
        {"a 200 crosses the CANCEL",
         [](Calls& k) {
             const auto call = k.NewCall("crossed");
             call.Invite(0, 1, Sdp(kAlice, 4000));
             call.Reply(0.1, 180, 1, "INVITE");
             call.Send(1, true, "CANCEL sip:bob@example.com SIP/2.0", Party("alice", "a1"), Party("bob", ""),
                       "1 CANCEL", "", {});
             call.Reply(1.01, 200, 1, "INVITE", Sdp(kBob, 5000));
             call.Reply(1.02, 200, 1, "CANCEL", "", "");
             call.Request(1.1, true, "ACK", 1);
             k.Media(call, 1.5, 5);
             call.Request(5, true, "BYE", 2);
         },
         {{"crossed", {"0a", "0b"}}},
         [](const CaptureReport& r) { EXPECT_EQ(r.calls[0].end - kEpoch, 5); }},
        {"PRACK, and an UPDATE with SDP in the early dialog",
         [](Calls& k) {
             const auto call = k.NewCall("early");
             call.Invite(0, 1, Sdp(kAlice, 4000), {"Supported: 100rel"});
             call.Reply(0.2, 183, 1, "INVITE", Sdp(kBob, 5000));
             call.Request(0.3, true, "PRACK", 2);
             call.Request(0.5, true, "UPDATE", 3, Sdp(kAlice, 4002), Sdp(kBob, 5000));
             k.Stream(1, 6, kBob, 5000, kAlice, 4002, 0xb);
             call.Reply(3, 200, 1, "INVITE");
             call.Request(3.1, true, "ACK", 1);
             k.Stream(3.5, 6, kAlice, 4002, kBob, 5000, 0xa);
             call.Request(6, true, "BYE", 4);
         },
         {{"early", {"0b", "0a"}}},
         nullptr},
    };
    for (const Case& c : cases)
        Check(c);
}

// Closing calls to make room touches only their own entries of the media
// index: 10,000 INVITEs of 16 audio lines each, 5,904 of them evicted.
TEST(SipDialogs, EvictingCallsVisitsOnlyTheirOwnMedia)
{
    signalling::SipReader reader;
    Endpoint source, destination;
    std::string sdp = "v=0\r\nc=IN IP4 10.1.0.0\r\n";
    const size_t lines = signalling::kMaxSdpMedia;
    for (size_t i = 0; i < lines; ++i)
        sdp += "m=audio " + std::to_string(10000 + 2 * i) + " RTP/AVP 4\r\n";
    for (int i = 0; i < 10000; ++i) {
        // Each call its own addresses: 10.1.x.y.
        std::string own = sdp;
        own.replace(own.find("10.1.0.0"), 8, "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250));
        const std::string text = test::SipMessage(
            "INVITE sip:b@x SIP/2.0", {"Call-ID: c" + std::to_string(i), "CSeq: 1 INVITE", "c: application/sdp"}, own);
        reader.Datagram(source, destination, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, i * 1e-3);
    }
    const uint64_t evicted = reader.counters()[signalling::SipProblem::kDialogsEvicted];
    EXPECT_EQ(evicted, 10000u - signalling::kMaxOpenDialogs);
    EXPECT_LE(reader.indexSteps(), evicted * lines * signalling::kMaxNamings);
}

}  // namespace
}  // namespace mervox::media::capture
