// Calls from SIP signalling: SIP over UDP on any port and over TCP (split
// and joined messages, gaps), SDP that maps a dynamic payload type to
// G.723.1, forks, early media, late offers in multipart bodies, telephone
// events, encrypted media, streams paired without signalling; and the
// hostile text a capture may carry.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "capture/capture.h"
#include "capture_builder.h"
#include "recorder/decoded_capture.h"
#include "signalling/sip_reader.h"
#include "signalling/sip_text.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

using signalling::Dialog;
using test::Bytes;

using test::RtpPacket;
using test::SipMessage;
using test::Text;

std::string Sdp(const std::string& address, int port, const std::string& extra = "",
                const std::string& profile = "RTP/AVP")
{
    return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\nm=audio " +
           std::to_string(port) + " " + profile + " 96 101\r\na=rtpmap:96 G723/8000\r\n" +
           "a=rtpmap:101 telephone-event/8000\r\n" + extra;
}

const std::string kAlice = "From: \"Alice\" <sip:alice@example.com>;tag=a1";
const std::string kBob = "To: Bob <sip:bob@example.com>";

// Both directions of the call's audio on payload type 96, and on the
// caller's SSRC the digits 1 and # as telephone events (3 packets each).
void AddMedia(test::PcapWriter& w, const std::string& caller, const std::string& callee, bool withEvents)
{
    static const std::vector<Bytes> frames = test::StreamFrames("speech-a.63.bit");
    uint16_t sequence = 100;
    for (uint32_t k = 0; k < 20; ++k) {
        if (withEvents && (k == 8 || k == 14))
            for (int repeat = 0; repeat < 3; ++repeat) {
                const uint8_t digit = k == 8 ? 1 : 11;
                const Bytes event = {digit, static_cast<uint8_t>(repeat == 2 ? 0x8a : 0x0a), 0x03, 0x20};
                w.Add(test::Ethernet(
                    test::Ipv4Udp(caller, 4000, callee, 5000, RtpPacket(0xa11ce, sequence++, 240 * k, 101, event))));
            }
        w.Add(test::Ethernet(
            test::Ipv4Udp(caller, 4000, callee, 5000, RtpPacket(0xa11ce, sequence++, 240 * k, 96, frames[k]))));
        w.Add(test::Ethernet(test::Ipv4Udp(
            callee, 5000, caller, 4000, RtpPacket(0xb0b, static_cast<uint16_t>(7 + k), 240 * k, 96, frames[40 + k]))));
    }
}

recorder::DecodedCapture Read(const test::PcapWriter& w, int payloadType = 4)
{
    CaptureOptions options;
    options.payloadType = payloadType;
    return recorder::DecodeCaptureBytes(w.bytes().data(), w.bytes().size(), options);
}

// A call over UDP on port 5080: forked answers (180 from one branch, 183
// with early media from another), the 200 with compact headers, ACK, the
// audio on dynamic payload type 96 with telephone events, and the callee's BYE.
test::PcapWriter UdpCall(const std::string& from = kAlice)
{
    const std::string a = "10.0.0.1", b = "10.0.0.2";
    const std::string callId = "Call-ID: call-1@example.com";
    test::PcapWriter w;
    auto sip = [&](bool fromCaller, const std::string& text) {
        w.Add(test::Ethernet(fromCaller ? test::Ipv4Udp(a, 5080, b, 5080, Text(text))
                                        : test::Ipv4Udp(b, 5080, a, 5080, Text(text))));
    };
    sip(true, SipMessage("INVITE sip:bob@example.com SIP/2.0",
                         {"Via: SIP/2.0/UDP 10.0.0.1:5080", from, kBob, callId, "CSeq: 1 INVITE",
                          "Content-Type: application/sdp"},
                         Sdp(a, 4000)));
    sip(false, SipMessage("SIP/2.0 100 Trying", {from, kBob, callId, "CSeq: 1 INVITE"}));
    sip(false, SipMessage("SIP/2.0 180 Ringing", {from, kBob + ";tag=b1", callId, "CSeq: 1 INVITE"}));
    sip(false, SipMessage("SIP/2.0 183 Session Progress",
                          {from, kBob + ";tag=b2", callId, "CSeq: 1 INVITE", "Content-Type: application/sdp"},
                          Sdp("10.0.0.3", 6000)));
    sip(false, SipMessage("SIP/2.0 200 OK",
                          {"f: " + from.substr(6), "t: <sip:bob@example.com>;tag=b1", "i: call-1@example.com",
                           "CSeq: 1 INVITE", "c: application/sdp"},
                          Sdp(b, 5000)));
    sip(true, SipMessage("ACK sip:bob@10.0.0.2 SIP/2.0", {from, kBob + ";tag=b1", callId, "CSeq: 1 ACK"}));
    AddMedia(w, a, b, true);
    sip(false,
        SipMessage("BYE sip:alice@10.0.0.1 SIP/2.0", {"From: Bob <sip:bob@example.com>;tag=b1",
                                                      "To: <sip:alice@example.com>;tag=a1", callId, "CSeq: 1 BYE"}));
    sip(true, SipMessage("SIP/2.0 200 OK", {"From: <sip:bob@example.com>;tag=b1", "To: <sip:alice@example.com>;tag=a1",
                                            callId, "CSeq: 1 BYE"}));
    return w;
}

TEST(SipCall, DynamicPayloadTypeFromSdpBothDirectionsForksAndDigits)
{
    const recorder::DecodedCapture r = Read(UdpCall());
    ASSERT_EQ(r.status, CaptureStatus::kOk);
    EXPECT_EQ(r.counters.signallingPackets, 8u);
    EXPECT_EQ(r.signalling.messages, 8u);
    EXPECT_EQ(r.counters.callPayloadPackets, 6u);
    EXPECT_EQ(r.counters.skipped[SkipReason::kOtherPayloadType], 0u);
    ASSERT_EQ(r.streams.size(), 2u);
    for (const timeline::RtpStream& s : r.streams) {
        EXPECT_EQ(s.payloadType, 96);
        EXPECT_EQ(s.stats.frames, 20u);
        EXPECT_EQ(s.stats.lostFrames, 0u);  // the events took sequence numbers, not time
    }
    EXPECT_EQ(r.streams[0].callPayloadPackets, 6u);
    ASSERT_EQ(r.streams[0].dtmf.size(), 2u);
    EXPECT_EQ(r.streams[0].dtmf[0].digit, '1');
    EXPECT_EQ(r.streams[0].dtmf[1].digit, '#');
    EXPECT_EQ(r.streams[0].dtmf[0].duration, 800u);
    EXPECT_LT(r.streams[0].dtmf[0].time, r.streams[0].dtmf[1].time);

    ASSERT_EQ(r.dialogs.size(), 1u);
    const signalling::Dialog& d = r.dialogs[0];
    EXPECT_EQ(d.callId, "call-1@example.com");
    EXPECT_EQ(d.from.displayName, "Alice");
    EXPECT_EQ(d.from.uri, "sip:alice@example.com");
    EXPECT_EQ(d.to.displayName, "Bob");
    EXPECT_EQ(d.to.uri, "sip:bob@example.com");
    EXPECT_EQ(d.finalStatus, 200);
    EXPECT_TRUE(d.inviteTime < d.answerTime && d.answerTime < d.ackTime && d.ackTime < d.byeTime);
    ASSERT_EQ(d.answers.size(), 3u);  // 180 and 200 of branch b1, 183 with early media of branch b2
    EXPECT_EQ(d.answers[1].status, 183);
    EXPECT_EQ(d.answers[1].toTag, "b2");
    EXPECT_TRUE(d.answers[1].sdp);
    EXPECT_EQ(d.media.size(), 3u);
    EXPECT_FALSE(d.encrypted);

    ASSERT_EQ(r.calls.size(), 1u);
    const calls::Call& c = r.calls[0];
    EXPECT_TRUE(c.signalled);
    ASSERT_EQ(c.streams.size(), 2u);
    EXPECT_TRUE(c.streams[0].fromCaller);  // 10.0.0.1:4000, the offer's address
    EXPECT_FALSE(c.streams[1].fromCaller);
    EXPECT_EQ(c.start, d.inviteTime);
    EXPECT_EQ(c.end, d.byeTime);

    // The audio is what --payload-type 96 gives without the signalling.
    test::PcapWriter mediaOnly;
    AddMedia(mediaOnly, "10.0.0.1", "10.0.0.2", false);
    const recorder::DecodedCapture plain = Read(mediaOnly, 96);
    ASSERT_EQ(plain.streams.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(plain.pcm[i], r.pcm[i]);
    EXPECT_TRUE(Read(mediaOnly).streams.empty());
}

// A late offer over TCP: the INVITE without SDP split across two
// segments, the 100 and the 200 (the offer) in one, the ACK with the answer
// in a multipart body, a retransmission, and a gap before the BYE.
TEST(SipCall, TcpMessagesSplitJoinedAndAfterAGap)
{
    const std::string a = "10.0.0.1", b = "10.0.0.2";
    const std::string callId = "Call-ID: late@example.com";
    const std::string invite = SipMessage("INVITE sip:bob@example.com SIP/2.0",
                                          {"Via: SIP/2.0/TCP 10.0.0.1", kAlice, kBob, callId, "CSeq: 7 INVITE"});
    const std::string boundary = "frontier";
    const std::string multipart = "--" + boundary + "\r\nContent-Type: application/isup\r\n\r\nxx\r\n--" + boundary +
                                  "\r\nContent-Type: application/sdp\r\n\r\n" + Sdp(a, 4000) + "\r\n--" + boundary +
                                  "--\r\n";
    const std::string ack = SipMessage(
        "ACK sip:bob@10.0.0.2 SIP/2.0",
        {kAlice, kBob + ";tag=b1", callId, "CSeq: 7 ACK", "Content-Type: multipart/mixed;boundary=" + boundary},
        multipart);
    const std::string answers =
        SipMessage("SIP/2.0 100 Trying", {kAlice, kBob, callId, "CSeq: 7 INVITE"}) +
        SipMessage("SIP/2.0 200 OK",
                   {kAlice, kBob + ";tag=b1", callId, "CSeq: 7 INVITE", "Content-Type: application/sdp"}, Sdp(b, 5000));
    const std::string bye =
        SipMessage("BYE sip:bob@10.0.0.2 SIP/2.0", {kAlice, kBob + ";tag=b1", callId, "CSeq: 8 BYE"});

    test::PcapWriter w;
    uint32_t up = 1000;
    auto caller = [&](const std::string& text, uint32_t sequence) {
        w.Add(test::Ethernet(test::Ipv4Tcp(a, 40000, b, 5060, sequence, Text(text))));
    };
    caller(invite.substr(0, 100), up);
    caller(invite.substr(100), up + 100);
    up += static_cast<uint32_t>(invite.size());
    w.Add(test::Ethernet(test::Ipv4Tcp(b, 5060, a, 40000, 77, Text(answers))));
    caller(ack, up);
    caller(ack, up);  // retransmitted
    up += static_cast<uint32_t>(ack.size());
    AddMedia(w, a, b, false);
    // 40 bytes never captured, then the end of a lost message and the BYE.
    caller("lost message's end\r\n\r\n" + bye, up + 40);

    const recorder::DecodedCapture r = Read(w);
    EXPECT_EQ(r.counters.signallingPackets, 6u);
    EXPECT_EQ(r.signalling.messages, 5u);
    EXPECT_EQ(r.signalling[signalling::SipProblem::kTcpGaps], 1u);
    EXPECT_EQ(r.signalling[signalling::SipProblem::kTcpRetransmissions], 1u);
    ASSERT_EQ(r.dialogs.size(), 1u);
    const signalling::Dialog& d = r.dialogs[0];
    EXPECT_EQ(d.finalStatus, 200);
    EXPECT_GE(d.ackTime, 0);
    EXPECT_GE(d.byeTime, 0);
    ASSERT_EQ(d.media.size(), 2u);
    EXPECT_FALSE(d.media[0].fromCaller);  // the offer came with the 200
    EXPECT_TRUE(d.media[1].fromCaller);   // the answer with the ACK
    ASSERT_EQ(r.streams.size(), 2u);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].streams.size(), 2u);
}

TEST(SipCall, EncryptedMediaIsNeverDecoded)
{
    test::PcapWriter w;
    const std::string crypto = "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz\r\n";
    w.Add(test::Ethernet(test::Ipv4Udp(
        "10.0.0.1", 5060, "10.0.0.2", 5060,
        Text(SipMessage("INVITE sip:bob@example.com SIP/2.0",
                        {kAlice, kBob, "Call-ID: srtp", "CSeq: 1 INVITE", "Content-Type: application/sdp"},
                        Sdp("10.0.0.1", 4000, crypto, "RTP/SAVP"))))));
    w.Add(test::Ethernet(test::Ipv4Udp(
        "10.0.0.2", 5060, "10.0.0.1", 5060,
        Text(SipMessage("SIP/2.0 200 OK",
                        {kAlice, kBob + ";tag=b", "Call-ID: srtp", "CSeq: 1 INVITE", "Content-Type: application/sdp"},
                        Sdp("10.0.0.2", 5000, crypto, "RTP/SAVP"))))));
    AddMedia(w, "10.0.0.1", "10.0.0.2", false);
    const recorder::DecodedCapture r = Read(w, 96);
    EXPECT_TRUE(r.streams.empty());
    EXPECT_EQ(r.counters.skipped[SkipReason::kEncrypted], 40u);
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_TRUE(r.dialogs[0].encrypted);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_TRUE(r.calls[0].streams.empty());
}

TEST(SipCall, StreamsWithoutSignallingArePairedByTheirAddresses)
{
    test::PcapWriter w;
    AddMedia(w, "10.0.0.1", "10.0.0.2", false);
    static const std::vector<Bytes> frames = test::StreamFrames("speech-a.63.bit");
    for (uint16_t k = 0; k < 5; ++k)  // a third stream, alone
        w.Add(test::Ethernet(
            test::Ipv4Udp("10.0.0.7", 7000, "10.0.0.8", 8000, RtpPacket(0x70, k, 240u * k, 96, frames[k]))));
    const recorder::DecodedCapture r = Read(w, 96);
    ASSERT_EQ(r.streams.size(), 3u);
    ASSERT_EQ(r.calls.size(), 2u);
    EXPECT_FALSE(r.calls[0].signalled);
    ASSERT_EQ(r.calls[0].streams.size(), 2u);
    EXPECT_TRUE(r.calls[0].streams[0].fromCaller);  // seen first
    EXPECT_FALSE(r.calls[0].streams[1].fromCaller);
    ASSERT_EQ(r.calls[1].streams.size(), 1u);
    EXPECT_EQ(r.streams[r.calls[1].streams[0].stream].ssrc, 0x70u);
    EXPECT_LE(r.calls[1].start, r.calls[1].end);
}

// The reader alone, on the hostile text a capture may carry.
class SipHostile : public ::testing::Test {
protected:
    void Datagram(const std::string& text, double time = 0)
    {
        reader.Datagram(source, destination, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, time);
    }
    signalling::SipReader reader;
    net::Endpoint source, destination;
};

TEST_F(SipHostile, MalformedAndOversizedFieldsAreCutOrSkippedAndCounted)
{
    using signalling::SipProblem;
    const std::string huge(10000, 'x');
    Datagram(
        SipMessage("INVITE sip:b@x SIP/2.0", {"From: \"" + huge + "\x1b[2J\" <sip:" + huge + ">;tag=1", "no colon here",
                                              ": nameless", "Call-ID: " + huge, "CSeq: one INVITE"}));
    // Content-Length past the datagram, and an absurd one: headers used, body left out.
    Datagram(SipMessage("INVITE sip:b@x SIP/2.0", {"i: past", "CSeq: 1 INVITE"}, "v=0\r\n", "500"));
    Datagram(SipMessage("INVITE sip:b@x SIP/2.0", {"i: absurd", "CSeq: 1 INVITE"}, "", "99999999999999"));
    // Thousands of media lines.
    std::string sdp = "v=0\r\nc=IN IP6 2001:db8::1\r\n";
    for (int i = 0; i < 3000; ++i)
        sdp += "m=audio " + std::to_string(10000 + 2 * i) + " RTP/AVP 4\r\nbad line\r\n";
    Datagram(SipMessage("INVITE sip:b@x SIP/2.0", {"i: many", "CSeq: 1 INVITE", "c: application/sdp"}, sdp));
    // Not SIP at all: no message, nothing counted.
    EXPECT_FALSE(reader.Datagram(source, destination, {reinterpret_cast<const uint8_t*>("\x80\x04xxxx"), 6}, 0));
    Datagram("HELLO sip:b@x HTTP/1.1\r\n\r\n");
    Datagram("SIP/2.0 OK\r\n\r\n");

    const auto& c = reader.counters();
    EXPECT_EQ(c.messages, 4u);
    EXPECT_EQ(c[signalling::SipProblem::kMalformedLines], 4u);  // no colon, nameless, the CSeq, the absurd length
    EXPECT_EQ(c[signalling::SipProblem::kLongFields], 1u);
    EXPECT_EQ(c[signalling::SipProblem::kLengthPastEnd], 1u);
    EXPECT_EQ(c[signalling::SipProblem::kSdpMediaLimit], 3000u - signalling::kMaxSdpMedia);
    EXPECT_EQ(c[signalling::SipProblem::kMalformedSdpLines], 3000u);
    ASSERT_EQ(reader.dialogs().count(), 4u);
    const signalling::Dialog& first = (*reader.dialogs().Find(0));
    EXPECT_EQ(first.callId.size(), signalling::kMaxFieldBytes);
    EXPECT_EQ(first.from.displayName.size(), signalling::kMaxFieldBytes);
    EXPECT_EQ(first.from.uri.size(), signalling::kMaxFieldBytes);
    EXPECT_EQ((*reader.dialogs().Find(1)).callId, "past");
    EXPECT_TRUE((*reader.dialogs().Find(1)).media.empty());
    const signalling::Dialog& many = (*reader.dialogs().Find(3));
    ASSERT_EQ(many.media.size(), signalling::kMaxSdpMedia);
    EXPECT_EQ(many.media[0].media.endpoint.ipVersion, net::kIpv6);
}

TEST_F(SipHostile, HundredThousandCallIdsStayWithinTheLimits)
{
    using signalling::SipProblem;
    for (int i = 0; i < 100000; ++i)
        Datagram(SipMessage("INVITE sip:b@x SIP/2.0", {"Call-ID: flood-" + std::to_string(i), "CSeq: 1 INVITE"}),
                 i * 1e-3);
    EXPECT_EQ(reader.dialogs().count(), signalling::kMaxDialogs);
    EXPECT_LE(reader.openDialogs(), signalling::kMaxOpenDialogs);
    const auto& c = reader.counters();
    EXPECT_EQ(c[signalling::SipProblem::kDialogLimit], 100000u - signalling::kMaxDialogs);
    EXPECT_EQ(c[signalling::SipProblem::kDialogsEvicted], signalling::kMaxDialogs - signalling::kMaxOpenDialogs);
    // Requests outside any call open none.
    Datagram(SipMessage("OPTIONS sip:b@x SIP/2.0", {"Call-ID: probe", "CSeq: 1 OPTIONS"}));
    EXPECT_EQ(reader.dialogs().count(), signalling::kMaxDialogs);

    // The limit is on calls held at once: a recorder that takes each call's
    // record as it closes takes calls for ever.
    signalling::SipReader recorder;
    for (size_t i = 0; i < 2 * signalling::kMaxDialogs; ++i) {
        const std::string text =
            SipMessage("INVITE sip:b@x SIP/2.0", {"Call-ID: day-" + std::to_string(i), "CSeq: 1 INVITE"});
        recorder.Datagram(source, destination, {reinterpret_cast<const uint8_t*>(text.data()), text.size()},
                          static_cast<double>(i));
        recorder.dialogs().CloseNow(i);
        recorder.dialogs().Release(i);
    }
    EXPECT_EQ(recorder.dialogs().count(), 2 * signalling::kMaxDialogs);
    EXPECT_EQ(recorder.dialogs().held(), 0u);
    EXPECT_EQ(recorder.counters()[SipProblem::kDialogLimit], 0u);
}

TEST_F(SipHostile, TcpBuffersAtMostOneMessagePerConnection)
{
    using signalling::SipProblem;
    signalling::TcpSegmentInfo segment;
    uint32_t sequence = 1;
    auto send = [&](const std::string& text) {
        segment.sequence = sequence;
        segment.payload = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
        sequence += static_cast<uint32_t>(text.size());
        return reader.Segment(source, destination, segment, 0);
    };
    EXPECT_FALSE(send("GET / HTTP/1.1\r\n\r\n"));  // no SIP connection
    sequence = 1;
    // Headers that never end, then an absurd Content-Length, then a good message.
    EXPECT_TRUE(send("INVITE sip:b@x SIP/2.0\r\nCall-ID: endless\r\n"));
    const std::string filler = "X-Filler: " + std::string(8000, 'y') + "\r\n";
    for (int i = 0; i < 30; ++i) {
        send(filler);
        EXPECT_LE(reader.bufferedBytes(), signalling::kMaxMessageBytes + filler.size());
    }
    send(SipMessage("INVITE sip:b@x SIP/2.0", {"Call-ID: absurd", "CSeq: 1 INVITE"}, "", "4000000000"));
    send(SipMessage("INVITE sip:b@x SIP/2.0", {"Call-ID: good", "CSeq: 1 INVITE"}));
    const auto& c = reader.counters();
    EXPECT_GE(c[signalling::SipProblem::kTooLarge], 2u);
    ASSERT_EQ(reader.dialogs().count(), 1u);
    EXPECT_EQ((*reader.dialogs().Find(0)).callId, "good");
    EXPECT_EQ(reader.bufferedBytes(), 0u);
}

struct CommandResult {
    int exitCode = -1;
    std::string out;
};

CommandResult RunMervox(const std::string& arguments, const std::string& dir)
{
    const std::string out = dir + "/stdout";
    const int status = std::system((std::string(MERVOX_CLI_PATH) + " " + arguments + " >'" + out + "'").c_str());
    std::ifstream in(out, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, s.str()};
}

TEST(SipCallCommand, JsonListsTheCallAndTextEscapesWhatTheCaptureSays)
{
    const std::string dir = ::testing::TempDir() + "mervox-sip-call";
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    const test::PcapWriter w = UdpCall("From: \"<script>\x1b[31m\" <sip:alice@example.com>;tag=a1");
    std::ofstream(dir + "/sip.pcap", std::ios::binary)
        .write(reinterpret_cast<const char*>(w.bytes().data()), static_cast<std::streamsize>(w.bytes().size()));

    const CommandResult json = RunMervox("pcap --layout streams '" + dir + "/sip.pcap' --json -j 1", dir);
    ASSERT_EQ(json.exitCode, 0) << json.out;
    const nlohmann::json j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["calls"].size(), 1u);
    const nlohmann::json& c = j["calls"][0];
    EXPECT_EQ(c["call_id"], "call-1@example.com");
    EXPECT_EQ(c["from"]["display_name"], "<script>\x1b[31m");
    EXPECT_EQ(c["to"]["uri"], "sip:bob@example.com");
    EXPECT_EQ(c["final_response"], 200);
    EXPECT_LT(c["invite_time"].get<double>(), c["answer_time"].get<double>());
    EXPECT_EQ(c["end_time"], c["bye_time"]);
    EXPECT_TRUE(c["cancel_time"].is_null());
    EXPECT_EQ(c["encrypted_media"], false);
    ASSERT_EQ(c["streams"].size(), 2u);
    EXPECT_EQ(c["streams"][0]["ssrc"], "0x000a11ce");
    EXPECT_EQ(j["streams"][c["streams"][1]["stream"].get<size_t>()]["ssrc"], "0x00000b0b");
    EXPECT_EQ(c["dtmf"][1]["digit"], "#");
    EXPECT_EQ(j["signalling"]["messages"], 8);
    EXPECT_EQ(json.out.find('\x1b'), std::string::npos);  // JSON escapes it
    // The audio files are as before: one per stream, named by SSRC.
    EXPECT_EQ(j["streams"][0]["output"], dir + "/sip-0x000a11ce.wav");
    EXPECT_EQ(j["streams"][0]["payload_type"], 96);

    const CommandResult text = RunMervox("pcap --layout streams '" + dir + "/sip.pcap' -j 1", dir);
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_NE(text.out.find("from:           \"<script>\\x1b[31m\" <sip:alice@example.com>"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("DTMF:           1#"), std::string::npos) << text.out;
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::capture
