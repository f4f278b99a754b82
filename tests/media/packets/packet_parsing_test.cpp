// RTP headers, UDP over IPv4/IPv6 and link-layer headers, one layer at a time.
#include <gtest/gtest.h>

#include "capture_builder.h"
#include "packets/g7231_payload.h"
#include "packets/link_layer.h"
#include "packets/rtp_packet.h"
#include "packets/udp_datagram.h"

namespace mervox::media::packets {
namespace {

using capture::test::Bytes;

net::ByteView View(const Bytes& b) { return net::ByteView{b.data(), b.size()}; }

Bytes PayloadOf(const RtpPacket& p) { return Bytes(p.payload.data, p.payload.data + p.payload.size); }

TEST(RtpHeader, FixedFields)
{
    capture::test::Rtp h;
    h.sequence = 0xfedc;
    h.timestamp = 0x89abcdef;
    h.ssrc = 0x11223344;
    h.payloadType = 96;
    h.marker = true;
    const Bytes packet = capture::test::RtpBytes(h, {1, 2, 3});
    RtpPacket p;
    ASSERT_EQ(ParseRtp(View(packet), p), RtpResult::kRtp);
    EXPECT_TRUE(p.marker);
    EXPECT_EQ(p.payloadType, 96);
    EXPECT_EQ(p.sequence, 0xfedc);
    EXPECT_EQ(p.timestamp, 0x89abcdefu);
    EXPECT_EQ(p.ssrc, 0x11223344u);
    EXPECT_EQ(PayloadOf(p), (Bytes{1, 2, 3}));
}

TEST(RtpHeader, CsrcListExtensionAndPaddingAreSkipped)
{
    capture::test::Rtp h;
    h.csrcs = {7, 8, 9};
    h.extension = Bytes(8, 0xee);
    h.padding = 3;
    const Bytes packet = capture::test::RtpBytes(h, {0x10, 0x20, 0x30, 0x40});
    RtpPacket p;
    ASSERT_EQ(ParseRtp(View(packet), p), RtpResult::kRtp);
    EXPECT_EQ(PayloadOf(p), (Bytes{0x10, 0x20, 0x30, 0x40}));
    // Padding may take the whole payload.
    h = capture::test::Rtp{};
    h.padding = 4;
    const Bytes allPadding = capture::test::RtpBytes(h, {});
    ASSERT_EQ(ParseRtp(View(allPadding), p), RtpResult::kRtp);
    EXPECT_EQ(p.payload.size, 0u);
}

TEST(RtpHeader, NotRtpOrMalformed)
{
    RtpPacket p;
    const Bytes good = capture::test::RtpBytes(capture::test::Rtp{}, {1, 2, 3, 4});
    EXPECT_EQ(ParseRtp(View(Bytes(good.begin(), good.begin() + 11)), p), RtpResult::kNotRtp);
    Bytes version1 = good;
    version1[0] = 0x40;
    EXPECT_EQ(ParseRtp(View(version1), p), RtpResult::kNotRtp);

    Bytes csrcOverrun = good;
    csrcOverrun[0] |= 2;  // two CSRCs = 8 bytes, only 4 there
    EXPECT_EQ(ParseRtp(View(csrcOverrun), p), RtpResult::kMalformed);

    capture::test::Rtp h;
    h.extension = Bytes(4, 0);
    Bytes extensionOverrun = capture::test::RtpBytes(h, {});
    extensionOverrun[15] = 2;  // claims 8 bytes of extension, has 4
    EXPECT_EQ(ParseRtp(View(extensionOverrun), p), RtpResult::kMalformed);
    Bytes extensionHeaderCut = good;
    extensionHeaderCut.resize(14);
    extensionHeaderCut[0] |= 0x10;
    EXPECT_EQ(ParseRtp(View(extensionHeaderCut), p), RtpResult::kMalformed);

    Bytes zeroPadding = good;
    zeroPadding[0] |= 0x20;
    zeroPadding.back() = 0;
    EXPECT_EQ(ParseRtp(View(zeroPadding), p), RtpResult::kMalformed);
    Bytes paddingOverrun = good;
    paddingOverrun[0] |= 0x20;
    paddingOverrun.back() = 5;  // more than the 4 payload bytes
    EXPECT_EQ(ParseRtp(View(paddingOverrun), p), RtpResult::kMalformed);
    Bytes headerOnlyPadded = capture::test::RtpBytes(capture::test::Rtp{}, {});
    headerOnlyPadded[0] |= 0x20;  // the count byte would be inside the header
    EXPECT_EQ(ParseRtp(View(headerOnlyPadded), p), RtpResult::kMalformed);
}

TEST(G7231Payload, FrameLengthsFromTypeBits)
{
    Bytes payload(24 + 4 + 20 + 1 + 24);
    payload[0] = 0xfc;   // type 0 (other bits are speech data)
    payload[24] = 0x02;  // SID
    payload[28] = 0x55;  // type 1
    payload[48] = 0x03;  // untransmitted
    payload[49] = 0x00;
    std::vector<FrameSlice> frames;
    ASSERT_TRUE(SplitFrames(View(payload), frames));
    ASSERT_EQ(frames.size(), 5u);
    const FrameType types[] = {FrameType::kRate6300, FrameType::kSilenceDescriptor, FrameType::kRate5300,
                               FrameType::kUntransmitted, FrameType::kRate6300};
    const uint16_t offsets[] = {0, 24, 28, 48, 49};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(frames[i].type, types[i]);
        EXPECT_EQ(frames[i].offset, offsets[i]);
    }
    payload.pop_back();
    frames.clear();
    EXPECT_FALSE(SplitFrames(View(payload), frames));
    EXPECT_EQ(frames.size(), 4u);
}

TEST(Udp, Ipv4)
{
    const Bytes ip = capture::test::Ipv4Udp("192.0.2.1", 5004, "198.51.100.7", 6000, {9, 8, 7});
    UdpDatagram d;
    ASSERT_EQ(ParseUdp(View(ip), d), UdpResult::kUdp);
    EXPECT_EQ(net::EndpointText(d.source), "192.0.2.1:5004");
    EXPECT_EQ(net::EndpointText(d.destination), "198.51.100.7:6000");
    EXPECT_EQ(Bytes(d.payload.data, d.payload.data + d.payload.size), (Bytes{9, 8, 7}));

    Bytes padded = ip;  // Ethernet minimum-size padding after the datagram
    padded.insert(padded.end(), 10, 0);
    ASSERT_EQ(ParseUdp(View(padded), d), UdpResult::kUdp);
    EXPECT_EQ(d.payload.size, 3u);

    Bytes withOptions = ip;  // 4 bytes of options: header length 6 words
    withOptions[0] = 0x46;
    withOptions.insert(withOptions.begin() + 20, {1, 1, 1, 0});
    withOptions[3] = static_cast<uint8_t>(withOptions.size());
    ASSERT_EQ(ParseUdp(View(withOptions), d), UdpResult::kUdp);
    EXPECT_EQ(d.destination.port, 6000);

    Bytes fragment = ip;
    fragment[6] = 0x20;  // more fragments
    EXPECT_EQ(ParseUdp(View(fragment), d), UdpResult::kFragment);
    fragment[6] = 0x00;
    fragment[7] = 0x10;  // a later piece
    EXPECT_EQ(ParseUdp(View(fragment), d), UdpResult::kFragment);

    Bytes tcp = ip;
    tcp[9] = 6;
    EXPECT_EQ(ParseUdp(View(tcp), d), UdpResult::kNotUdp);
    EXPECT_EQ(ParseUdp(View(Bytes(ip.begin(), ip.end() - 1)), d), UdpResult::kTruncated);
    Bytes badLength = ip;
    badLength[0] = 0x44;  // header shorter than 20 bytes
    EXPECT_EQ(ParseUdp(View(badLength), d), UdpResult::kMalformed);
    Bytes udpTooShort = ip;
    udpTooShort[25] = 7;  // UDP length below its own header
    EXPECT_EQ(ParseUdp(View(udpTooShort), d), UdpResult::kMalformed);
}

TEST(Udp, Ipv6WithExtensionHeaders)
{
    const Bytes plain = capture::test::Ipv6Udp("2001:db8::1", 5004, "2001:db8::2", 6000, {1, 2});
    UdpDatagram d;
    ASSERT_EQ(ParseUdp(View(plain), d), UdpResult::kUdp);
    EXPECT_EQ(net::EndpointText(d.source), "[2001:db8::1]:5004");
    EXPECT_EQ(net::AddressText(d.destination), "2001:db8::2");

    const Bytes hop = capture::test::Ipv6Udp("2001:db8::1", 5004, "2001:db8::2", 6000, {1, 2}, true);
    ASSERT_EQ(ParseUdp(View(hop), d), UdpResult::kUdp);
    EXPECT_EQ(Bytes(d.payload.data, d.payload.data + d.payload.size), (Bytes{1, 2}));

    // Fragment header: an atomic one (offset 0, no more) is read, others skipped.
    Bytes fragment = hop;
    fragment[6] = 44;
    fragment[40] = 17;
    fragment[41] = 0;
    fragment[42] = fragment[43] = 0;
    ASSERT_EQ(ParseUdp(View(fragment), d), UdpResult::kUdp);
    fragment[43] = 1;  // more fragments follow
    EXPECT_EQ(ParseUdp(View(fragment), d), UdpResult::kFragment);

    Bytes noNext = plain;
    noNext[6] = 59;
    EXPECT_EQ(ParseUdp(View(noNext), d), UdpResult::kNotUdp);
    Bytes cut = hop;
    cut[5] = 4;  // payload length ends inside the options header
    cut.resize(44);
    EXPECT_EQ(ParseUdp(View(cut), d), UdpResult::kTruncated);
    EXPECT_EQ(ParseUdp(View(Bytes(hop.begin(), hop.end() - 1)), d), UdpResult::kTruncated);
}

TEST(LinkLayer, EveryHeaderLeadsToTheSameIpPacket)
{
    const Bytes ip = capture::test::Ipv4Udp("10.0.0.1", 1, "10.0.0.2", 2, {});
    auto prefixed = [&](Bytes header) {
        header.insert(header.end(), ip.begin(), ip.end());
        return header;
    };
    struct Case {
        int link;
        Bytes frame;
    };
    const Case cases[] = {
        {kLinkEthernet, capture::test::Ethernet(ip)},
        {kLinkEthernet, capture::test::Ethernet(ip, 42)},
        {kLinkLinuxSll, prefixed({0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00})},
        {kLinkLinuxSll2, prefixed({0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0})},
        {kLinkRaw, ip},
        {kLinkRawBsd, ip},
        {kLinkIpv4, ip},
        {kLinkNull, prefixed({2, 0, 0, 0})},
        {kLinkNull, prefixed({0, 0, 0, 2})},
        {kLinkLoop, prefixed({0, 0, 0, 2})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        net::ByteView found;
        ASSERT_EQ(ExtractIp(c.link, View(c.frame), found), LinkResult::kIp);
        EXPECT_EQ(Bytes(found.data, found.data + found.size), ip);
        // One byte short of the link header (no bytes at all for raw IP).
        const size_t header = c.frame.size() - ip.size();
        EXPECT_EQ(ExtractIp(c.link, net::ByteView{c.frame.data(), header ? header - 1 : 0}, found),
                  LinkResult::kTruncated);
    }
}

TEST(LinkLayer, NonIpAndUnknownLinks)
{
    net::ByteView found;
    Bytes arp = capture::test::Ethernet(capture::test::Ipv4Udp("10.0.0.1", 1, "10.0.0.2", 2, {}));
    arp[12] = 0x08;
    arp[13] = 0x06;
    EXPECT_EQ(ExtractIp(kLinkEthernet, View(arp), found), LinkResult::kNotIp);
    const Bytes notIp = {0x50, 0, 0, 0};
    EXPECT_EQ(ExtractIp(kLinkRaw, View(notIp), found), LinkResult::kNotIp);
    EXPECT_EQ(ExtractIp(kLinkNull, View(Bytes{7, 0, 0, 0, 0x45}), found), LinkResult::kNotIp);
    EXPECT_EQ(ExtractIp(105, View(arp), found), LinkResult::kUnsupported);  // 802.11
    EXPECT_FALSE(IsSupportedLinkType(105));
    EXPECT_TRUE(IsSupportedLinkType(kLinkLinuxSll2));
}

}  // namespace
}  // namespace mervox::media::packets
