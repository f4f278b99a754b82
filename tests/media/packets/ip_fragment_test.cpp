// SIP and RTP in fragmented IP datagrams: pieces in and out of order over
// IPv4 and IPv6 give the call an unfragmented capture gives; incomplete,
// overlapping, oversized and too many datagrams stay bounded and counted.
#include <gtest/gtest.h>

#include <utility>

#include "capture/capture.h"
#include "capture_builder.h"
#include "packets/ip_reassembly.h"
#include "recorder/decoded_capture.h"

namespace mervox::media::packets {
namespace {

using capture::test::Bytes;

using capture::test::Text;

struct Host {
    std::string address;
    bool v6;
};

Bytes Ip(const Host& from, uint16_t fromPort, const Host& to, uint16_t toPort, const Bytes& payload)
{
    return from.v6 ? capture::test::Ipv6Udp(from.address, fromPort, to.address, toPort, payload)
                   : capture::test::Ipv4Udp(from.address, fromPort, to.address, toPort, payload);
}

std::string Sdp(const Host& h, int port)
{
    const std::string family = h.v6 ? "IP6 " : "IP4 ";
    return "v=0\r\no=- 1 1 IN " + family + h.address + "\r\ns=-\r\nc=IN " + family + h.address +
           "\r\nt=0 0\r\nm=audio " + std::to_string(port) + " RTP/AVP 96\r\na=rtpmap:96 G723/8000\r\n";
}

std::string Sip(const std::string& startLine, const std::string& cseq, const std::string& body = "")
{
    return startLine +
           "\r\nVia: SIP/2.0/UDP caller.example.com:5060\r\n"
           "From: \"Alice\" <sip:alice@example.com>;tag=a1\r\nTo: <sip:bob@example.com>" +
           (startLine.rfind("SIP/2.0", 0) == 0 || cseq != "1 INVITE" ? ";tag=b1" : "") +
           "\r\nCall-ID: fragmented-1@example.com\r\nCSeq: " + cseq + "\r\n" +
           (body.empty() ? "" : "Content-Type: application/sdp\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A call's IP packets: the INVITE with its offer first (dynamic payload
// type 96), the answer, ACK, 12 packets of audio each way, BYE.
std::vector<Bytes> CallPackets(bool v6)
{
    const Host a{v6 ? "2001:db8::1" : "10.0.0.1", v6}, b{v6 ? "2001:db8::2" : "10.0.0.2", v6};
    std::vector<Bytes> p;
    p.push_back(Ip(a, 5060, b, 5060, Text(Sip("INVITE sip:bob@example.com SIP/2.0", "1 INVITE", Sdp(a, 4000)))));
    p.push_back(Ip(b, 5060, a, 5060, Text(Sip("SIP/2.0 200 OK", "1 INVITE", Sdp(b, 5000)))));
    p.push_back(Ip(a, 5060, b, 5060, Text(Sip("ACK sip:bob@example.com SIP/2.0", "1 ACK"))));
    static const std::vector<Bytes> frames = capture::test::StreamFrames("speech-a.63.bit");
    for (uint16_t k = 0; k < 12; ++k) {
        capture::test::Rtp h;
        h.payloadType = 96;
        h.sequence = k;
        h.timestamp = 240u * k;
        h.ssrc = 0xa11ce;
        p.push_back(Ip(a, 4000, b, 5000, capture::test::RtpBytes(h, frames[k])));
        h.ssrc = 0xb0b;
        p.push_back(Ip(b, 5000, a, 4000, capture::test::RtpBytes(h, frames[20 + k])));
    }
    p.push_back(Ip(a, 5060, b, 5060, Text(Sip("BYE sip:bob@example.com SIP/2.0", "2 BYE"))));
    return p;
}

// The INVITE as pieces [first, second) of its IP payload, in the order given.
std::vector<Bytes> Split(const Bytes& packet, uint32_t id, const std::vector<std::pair<size_t, size_t>>& ranges)
{
    std::vector<Bytes> pieces;
    for (const auto& r : ranges)
        pieces.push_back(capture::test::IpFragment(packet, id, r.first, r.second));
    return pieces;
}

size_t IpPayload(const Bytes& packet) { return packet.size() - ((packet[0] >> 4) == 6 ? 40 : 20); }

recorder::DecodedCapture Read(const std::vector<Bytes>& packets)
{
    capture::test::PcapWriter w;
    for (const Bytes& p : packets)
        w.Add(capture::test::Ethernet(p));
    return recorder::DecodeCaptureBytes(w.bytes().data(), w.bytes().size(), capture::CaptureOptions{});
}

// The packets `stepMicros` apart.
recorder::DecodedCapture ReadEvery(const std::vector<Bytes>& packets, uint32_t stepMicros)
{
    Bytes capture = capture::test::PcapFileHeader(1);
    uint64_t micros = 0;
    for (const Bytes& p : packets) {
        const Bytes rec =
            capture::test::PcapRecord(capture::test::Ethernet(p), static_cast<uint32_t>(1700000000 + micros / 1000000),
                                      static_cast<uint32_t>(micros % 1000000));
        capture.insert(capture.end(), rec.begin(), rec.end());
        micros += stepMicros;
    }
    return recorder::DecodeCaptureBytes(capture.data(), capture.size(), capture::CaptureOptions{});
}

// The call with its INVITE replaced by `pieces` (and `before` ahead of it).
recorder::DecodedCapture ReadWithInvite(bool v6, const std::vector<Bytes>& pieces,
                                        const std::vector<Bytes>& before = {})
{
    std::vector<Bytes> call = CallPackets(v6);
    std::vector<Bytes> packets = before;
    packets.insert(packets.end(), pieces.begin(), pieces.end());
    packets.insert(packets.end(), call.begin() + 1, call.end());
    return Read(packets);
}

void ExpectSameCall(const recorder::DecodedCapture& whole, const recorder::DecodedCapture& r)
{
    ASSERT_EQ(r.status, capture::CaptureStatus::kOk);
    EXPECT_EQ(r.counters.signallingPackets, whole.counters.signallingPackets);
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_EQ(r.dialogs[0].callId, "fragmented-1@example.com");
    EXPECT_EQ(r.dialogs[0].from.displayName, "Alice");
    EXPECT_EQ(r.dialogs[0].media.size(), whole.dialogs[0].media.size());
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_TRUE(r.calls[0].signalled);
    EXPECT_EQ(r.calls[0].start, r.dialogs[0].inviteTime);  // the whole INVITE's time
    ASSERT_EQ(r.calls[0].streams.size(), 2u);
    EXPECT_TRUE(r.calls[0].streams[0].fromCaller);
    ASSERT_EQ(r.streams.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(r.streams[i].payloadType, 96);
        EXPECT_EQ(r.streams[i].stats.frames, 12u);
        EXPECT_EQ(r.pcm[i], whole.pcm[i]);
    }
}

TEST(IpFragments, SipInviteInPiecesInAnyOrderGivesTheSameCallOverIpv4AndIpv6)
{
    for (const bool v6 : {false, true}) {
        SCOPED_TRACE(v6 ? "IPv6" : "IPv4");
        const std::vector<Bytes> call = CallPackets(v6);
        const recorder::DecodedCapture whole = Read(call);
        ASSERT_EQ(whole.streams.size(), 2u);  // payload type 96 from the offer and the answer
        ASSERT_EQ(whole.dialogs.size(), 1u);
        ASSERT_EQ(whole.calls.size(), 1u);
        const size_t n = IpPayload(call[0]);
        ASSERT_GT(n, 320u);
        const std::vector<std::pair<size_t, size_t>> two = {{0, 200}, {200, n}};
        const std::vector<std::pair<size_t, size_t>> three = {{0, 152}, {152, 304}, {304, n}};
        ExpectSameCall(whole, ReadWithInvite(v6, Split(call[0], 7, two)));
        ExpectSameCall(whole, ReadWithInvite(v6, Split(call[0], 7, three)));
        // The last piece first, the middle one last.
        ExpectSameCall(whole, ReadWithInvite(v6, Split(call[0], 7, {three[2], three[0], three[1]})));
        const recorder::DecodedCapture r = ReadWithInvite(v6, Split(call[0], 7, three));
        EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 0u);
        EXPECT_EQ(r.counters.skipped.counts, whole.counters.skipped.counts);
        // Each record counted once: the two pieces before the last as joined.
        EXPECT_EQ(r.counters.joinedFragments, 2u);
        EXPECT_EQ(r.counters.records, whole.counters.records + 2);
    }
}

TEST(IpFragments, IncompleteOverlappingAndOversizedPiecesAreCounted)
{
    const std::vector<Bytes> call = CallPackets(false);
    const recorder::DecodedCapture whole = Read(call);
    const size_t n = IpPayload(call[0]);

    // Without its middle piece the INVITE never comes: its pieces are counted.
    capture::CaptureReport r = ReadWithInvite(false, Split(call[0], 9, {{0, 152}, {304, n}}));
    EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 2u);
    EXPECT_TRUE(r.dialogs.empty() || r.dialogs[0].inviteTime == 0);

    // Overlapping pieces: the bytes that came first are kept, a later copy
    // (garbled here, over the start line's end) changes nothing.
    std::vector<Bytes> pieces = Split(call[0], 9, {{0, 48}, {40, 200}, {200, n}});
    for (size_t i = 0; i < 8; ++i)
        pieces[1][20 + i] = 'X';
    ExpectSameCall(whole, ReadWithInvite(false, pieces));
    // The garbled copy first: the start line is broken, the INVITE is no SIP.
    std::swap(pieces[0], pieces[1]);
    r = ReadWithInvite(false, pieces);
    EXPECT_TRUE(r.dialogs.empty() || r.dialogs[0].inviteTime == 0);
    EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 0u);

    // A piece reaching past 65535 bytes gives up its datagram (the pieces
    // that came before it too); a later piece starts a new one.
    pieces = Split(call[0], 9, {{0, 152}, {152, 304}, {304, n}});
    Bytes far = pieces[1];
    far[6] = 0x3f;  // offset 65528, more to come
    far[7] = 0xff;
    r = ReadWithInvite(false, {pieces[0], far, pieces[1], pieces[2]});
    EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 4u);  // 2 given up, 2 never complete
    EXPECT_TRUE(r.dialogs.empty() || r.dialogs[0].inviteTime == 0);
    // A second last piece that ends elsewhere gives it up too.
    Bytes shorter = pieces[2];
    shorter[7] = static_cast<uint8_t>(shorter[7] - 1);  // 8 bytes earlier
    r = ReadWithInvite(false, {pieces[2], shorter, pieces[0], pieces[1]});
    EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 4u);
}

TEST(IpFragments, ThousandIdentificationsAndStalePiecesStayWithinTheBounds)
{
    const std::vector<Bytes> call = CallPackets(false);
    const recorder::DecodedCapture whole = Read(call);
    const size_t n = IpPayload(call[0]);
    const std::vector<std::pair<size_t, size_t>> three = {{0, 152}, {152, 304}, {304, n}};

    // The first piece of 1000 datagrams: at most 64 wait at once, and the
    // INVITE's pieces still make it whole after them.
    std::vector<Bytes> flood;
    for (uint32_t id = 1000; id < 2000; ++id)
        flood.push_back(capture::test::IpFragment(call[0], id, 0, 152));
    ExpectSameCall(whole, ReadWithInvite(false, Split(call[0], 9, three), flood));
    const recorder::DecodedCapture r = ReadWithInvite(false, Split(call[0], 9, three), flood);
    EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 1000u);

    // One address holds no more than its share.
    IpReassembly reassembly;
    UdpDatagram piece;
    net::ByteView whole_datagram;
    for (const Bytes& p : flood) {
        ASSERT_EQ(ParseUdp(net::ByteView{p.data(), p.size()}, piece), UdpResult::kFragment);
        EXPECT_FALSE(reassembly.Add(piece, 1, whole_datagram));
        ASSERT_LE(reassembly.heldBytes(), IpReassembly::Limits{}.sourceBytes);
    }
    EXPECT_GT(reassembly.inProgress(), 0u);
    EXPECT_EQ(reassembly.TakeDropped() + reassembly.inProgress(), 1000u);

    // Pieces more than 30 s of capture time apart make no datagram.
    const std::vector<Bytes> pieces = Split(call[0], 9, three);
    Bytes capture = capture::test::PcapFileHeader(1);
    const uint32_t seconds[] = {100, 110, 131};
    for (size_t i = 0; i < 3; ++i) {
        const Bytes rec = capture::test::PcapRecord(capture::test::Ethernet(pieces[i]), seconds[i], 0);
        capture.insert(capture.end(), rec.begin(), rec.end());
    }
    const Bytes rec = capture::test::PcapRecord(capture::test::Ethernet(call[0]), 132, 0);
    capture.insert(capture.end(), rec.begin(), rec.end());
    const recorder::DecodedCapture late =
        recorder::DecodeCaptureBytes(capture.data(), capture.size(), capture::CaptureOptions{});
    EXPECT_EQ(late.counters.skipped[capture::SkipReason::kFragment], 3u);  // 2 given up at 131 s, the last never whole
    EXPECT_EQ(late.counters.signallingPackets, 1u);                        // the whole INVITE
}

// 10,000 first pieces that never complete (12 MB, three times the bound)
// come between the INVITE's pieces: from one other address, or each from an
// address of its own. Neither takes the INVITE's place.
TEST(IpFragments, AnInviteSurvivesTenThousandJunkPiecesFromOtherAddresses)
{
    const std::vector<Bytes> call = CallPackets(false);
    const recorder::DecodedCapture whole = Read(call);
    const size_t n = IpPayload(call[0]);
    const std::vector<Bytes> pieces = Split(call[0], 9, {{0, 152}, {152, 304}, {304, n}});
    for (const bool spread : {false, true}) {
        SCOPED_TRACE(spread ? "each from an address of its own" : "from one address");
        std::vector<Bytes> packets = {pieces[0]};
        for (uint32_t k = 0; k < 10000; ++k) {
            const std::string from =
                spread ? "10.1." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 1) : "10.9.9.9";
            packets.push_back(capture::test::IpFragment(
                capture::test::Ipv4Udp(from, 9, "10.0.0.2", 9, Bytes(1400, 0x55)), k, 0, 1208));
        }
        packets.push_back(pieces[1]);
        packets.push_back(pieces[2]);
        packets.insert(packets.end(), call.begin() + 1, call.end());
        const recorder::DecodedCapture r = ReadEvery(packets, 1000);  // all within the 30 s a datagram may wait
        ExpectSameCall(whole, r);
        EXPECT_EQ(r.counters.skipped[capture::SkipReason::kFragment], 10000u);
    }
}

}  // namespace
}  // namespace mervox::media::packets
