// SDP bodies read into the audio media they place: connection addresses
// (IPv4, IPv6, session or media level), ports, payload types and their
// encodings, directions, encryption, and what is malformed or too much.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "signalling/sdp.h"

namespace mervox::media::signalling {
namespace {

// The lines joined with CRLF (and one after the last).
std::string Lines(std::initializer_list<const char*> lines)
{
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

TEST(SdpConnection, AddressesAtSessionAndMediaLevel)
{
    struct Case {
        const char* name;
        std::string sdp;
        bool haveAddress;
        const char* address;  // as text, "" when none applies
        uint16_t port;
    };
    const Case cases[] = {
        {"session level", Lines({"v=0", "c=IN IP4 192.0.2.10", "m=audio 49170 RTP/AVP 4"}), true, "192.0.2.10", 49170},
        {"media level after the m= line",
         Lines({"v=0", "c=IN IP4 192.0.2.10", "m=audio 49170 RTP/AVP 4", "c=IN IP4 198.51.100.7"}), true,
         "198.51.100.7", 49170},
        {"IPv6", Lines({"v=0", "c=IN IP6 2001:db8::1:2", "m=audio 5004 RTP/AVP 4"}), true, "2001:db8::1:2", 5004},
        {"IPv6 at media level over IPv4",
         Lines({"v=0", "c=IN IP4 192.0.2.10", "m=audio 5004 RTP/AVP 4", "c=IN IP6 ::ffff:192.0.2.1"}), true,
         "::ffff:192.0.2.1", 5004},
        {"lower case, a multicast TTL", Lines({"v=0", "c=in ip4 233.252.0.1/127", "m=audio 6000 RTP/AVP 4"}), true,
         "233.252.0.1", 6000},
        {"port with a count of ports", Lines({"v=0", "c=IN IP4 192.0.2.10", "m=audio 7000/2 RTP/AVP 4"}), true,
         "192.0.2.10", 7000},
        {"LF line ends", "v=0\nc=IN IP4 192.0.2.10\nm=audio 8000 RTP/AVP 4\n", true, "192.0.2.10", 8000},
        {"no c= line", Lines({"v=0", "m=audio 49170 RTP/AVP 4"}), false, "", 49170},
        {"unreadable addresses", Lines({"v=0", "c=IN IP4 192.0.2", "m=audio 9000 RTP/AVP 4", "c=IN IP6 192.0.2.1"}),
         false, "", 9000},
        {"another network", Lines({"v=0", "c=ATM NSAP 47.0005", "m=audio 9000 RTP/AVP 4"}), false, "", 9000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SessionDescription sdp = ParseSdp(c.sdp);
        ASSERT_EQ(sdp.audio.size(), 1u);
        const SdpMedia& m = sdp.audio[0];
        EXPECT_EQ(m.haveAddress, c.haveAddress);
        if (c.haveAddress) {
            EXPECT_EQ(net::AddressText(m.endpoint), c.address);
        }
        EXPECT_EQ(m.endpoint.port, c.port);
    }
}

TEST(SdpConnection, EachMediaLineHasItsOwn)
{
    // Other media are passed over: their c= lines apply to them alone.
    const SessionDescription sdp =
        ParseSdp(Lines({"v=0", "c=IN IP6 2001:db8::a", "m=audio 4000 RTP/AVP 4", "c=IN IP4 192.0.2.1",
                        "m=video 5000 RTP/AVP 31", "c=IN IP4 192.0.2.2", "m=audio 6000 RTP/SAVP 4"}));
    ASSERT_EQ(sdp.audio.size(), 2u);
    // All of the address is the media's: nothing of the session's IPv6 one is left.
    EXPECT_EQ(sdp.audio[0].endpoint,
              ParseSdp(Lines({"c=IN IP4 192.0.2.1", "m=audio 4000 RTP/AVP 4"})).audio[0].endpoint);
    EXPECT_EQ(net::EndpointText(sdp.audio[0].endpoint), "192.0.2.1:4000");
    EXPECT_EQ(sdp.audio[1].endpoint.ipVersion, net::kIpv6);
    EXPECT_EQ(net::EndpointText(sdp.audio[1].endpoint), "[2001:db8::a]:6000");
    EXPECT_EQ(sdp.audio[0].protocol, "RTP/AVP");
    EXPECT_EQ(sdp.audio[1].protocol, "RTP/SAVP");
    EXPECT_EQ(sdp.malformedLines, 0u);
}

TEST(SdpPayloadTypes, StaticTypesAndRtpmap)
{
    const SessionDescription sdp = ParseSdp(Lines({
        "v=0",
        "c=IN IP4 192.0.2.1",
        "a=rtpmap:97 G723/8000",  // session level: applies to no media
        "m=audio 4000 RTP/AVP 96 4 13 0 18 101 97 102 103 200",
        "a=rtpmap:96 G723/8000",
        "a=rtpmap:101 telephone-event/8000",
        "a=rtpmap:102 cn/8000",
        "a=rtpmap:103 PCMA/8000",
        "a=rtpmap:110 g723/8000",  // a type the m= line does not list
        "a=fmtp:101 0-15",
    }));
    ASSERT_EQ(sdp.audio.size(), 1u);
    const SdpMedia& m = sdp.audio[0];
    struct Case {
        int payloadType;
        PayloadKind kind;
        const char* encoding;
    };
    const Case cases[] = {
        {96, PayloadKind::kG7231, "G723/8000"},
        {4, PayloadKind::kG7231, ""},  // static: G.723.1 without a=rtpmap
        {13, PayloadKind::kComfortNoise, ""},
        {0, PayloadKind::kOther, ""},
        {18, PayloadKind::kOther, ""},
        {101, PayloadKind::kTelephoneEvent, "telephone-event/8000"},
        {97, PayloadKind::kUnknown, ""},  // dynamic, never mapped on this media
        {102, PayloadKind::kComfortNoise, "cn/8000"},
        {103, PayloadKind::kOther, "PCMA/8000"},
    };
    ASSERT_EQ(m.payloads.size(), std::size(cases));  // 200 is no payload type
    for (size_t k = 0; k < std::size(cases); ++k) {
        SCOPED_TRACE(cases[k].payloadType);
        EXPECT_EQ(m.payloads[k].payloadType, cases[k].payloadType);
        EXPECT_EQ(m.payloads[k].kind, cases[k].kind);
        EXPECT_EQ(m.payloads[k].encoding, cases[k].encoding);
        EXPECT_EQ(m.KindOf(cases[k].payloadType), cases[k].kind);
    }
    EXPECT_EQ(m.KindOf(110), PayloadKind::kUnknown);
    EXPECT_EQ(m.KindOf(8), PayloadKind::kUnknown);  // not listed
    EXPECT_EQ(sdp.malformedLines, 0u);
}

TEST(SdpPayloadTypes, MappingsStayWithTheirMediaAndListsAreBounded)
{
    std::string many = "m=audio 6000 RTP/AVP";
    for (int pt = 0; pt < 40; ++pt)
        many += " " + std::to_string(pt);
    const SessionDescription sdp = ParseSdp(Lines({"v=0", "m=audio 4000 RTP/AVP 96", "a=rtpmap:96 G723/8000",
                                                   "m=audio 5000 RTP/AVP 96", "a=rtpmap:96 PCMU/8000", many.c_str()}));
    ASSERT_EQ(sdp.audio.size(), 3u);
    EXPECT_EQ(sdp.audio[0].KindOf(96), PayloadKind::kG7231);
    EXPECT_EQ(sdp.audio[1].KindOf(96), PayloadKind::kOther);
    ASSERT_EQ(sdp.audio[2].payloads.size(), kMaxPayloadTypes);
    EXPECT_EQ(sdp.audio[2].payloads.back().payloadType, static_cast<int>(kMaxPayloadTypes) - 1);
}

TEST(SdpDirection, SessionDefaultAndMediaOverride)
{
    // The session's direction is each media's until it says its own; one
    // media's (or another kind's) is not the next one's.
    const SessionDescription sdp = ParseSdp(Lines(
        {"v=0", "a=sendonly", "m=audio 4000 RTP/AVP 4", "m=audio 4002 RTP/AVP 4", "a=RECVONLY",
         "m=audio 4004 RTP/AVP 4", "a=inactive", "m=video 4006 RTP/AVP 31", "a=recvonly", "m=audio 4008 RTP/AVP 4"}));
    const MediaDirection want[] = {MediaDirection::kSendOnly, MediaDirection::kReceiveOnly, MediaDirection::kInactive,
                                   MediaDirection::kSendOnly};
    ASSERT_EQ(sdp.audio.size(), std::size(want));
    for (size_t k = 0; k < std::size(want); ++k)
        EXPECT_EQ(sdp.audio[k].direction, want[k]) << "media " << k;
    EXPECT_EQ(ParseSdp(Lines({"v=0", "m=audio 4000 RTP/AVP 4"})).audio[0].direction, MediaDirection::kSendReceive);
    EXPECT_STREQ(MediaDirectionName(MediaDirection::kReceiveOnly), "recvonly");
}

TEST(SdpEncryption, SecureProfilesAndKeyAttributes)
{
    struct Case {
        const char* name;
        std::string sdp;
        bool encrypted[2];
    };
    const Case cases[] = {
        {"plain RTP", Lines({"v=0", "m=audio 4000 RTP/AVP 4", "m=audio 4002 RTP/AVPF 4"}), {false, false}},
        {"secure profiles",
         Lines({"v=0", "m=audio 4000 RTP/SAVP 4", "m=audio 4002 UDP/TLS/RTP/SAVPF 4"}),
         {true, true}},
        {"secure profile in lower case",
         Lines({"v=0", "m=audio 4000 rtp/savpf 4", "m=audio 4002 RTP/AVP 4"}),
         {true, false}},
        {"a=crypto on one media",
         Lines({"v=0", "m=audio 4000 RTP/AVP 4", "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:x",
                "m=audio 4002 RTP/AVP 4"}),
         {true, false}},
        {"a=fingerprint at session level",
         Lines({"v=0", "a=fingerprint:sha-256 AB:CD", "m=audio 4000 RTP/AVP 4", "m=audio 4002 RTP/AVP 4"}),
         {true, true}},
        {"a=crypto on other media",
         Lines({"v=0", "m=video 3998 RTP/AVP 31", "a=crypto:1 x", "m=audio 4000 RTP/AVP 4", "m=audio 4002 RTP/AVP 4"}),
         {false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SessionDescription sdp = ParseSdp(c.sdp);
        ASSERT_EQ(sdp.audio.size(), 2u);
        EXPECT_EQ(sdp.audio[0].encrypted, c.encrypted[0]);
        EXPECT_EQ(sdp.audio[1].encrypted, c.encrypted[1]);
    }
}

TEST(SdpMalformed, LinesAreCountedAndPassedOver)
{
    const SessionDescription sdp = ParseSdp(Lines({
        "v=0",
        "",                         // empty: not counted
        "garbage",                  // no '='
        "x",                        // too short
        "c=IN IP4 999.1.1.1",       // an address that is none
        "m=audio 70000 RTP/AVP 4",  // a port that is none: the media is passed over ...
        "c=IN IP4 nonsense",        // ... with its lines
        "a=rtpmap:x G723/8000",
        "m=audio 4000 RTP/AVP 96 4",
        "a=rtpmap:96G723/8000",    // no space
        "a=rtpmap:300 G723/8000",  // no payload type
        "a=rtpmap:96 G723/8000",
    }));
    EXPECT_EQ(sdp.malformedLines, 6u);
    ASSERT_EQ(sdp.audio.size(), 1u);
    EXPECT_EQ(sdp.audio[0].endpoint.port, 4000);
    EXPECT_FALSE(sdp.audio[0].haveAddress);
    EXPECT_EQ(sdp.audio[0].KindOf(96), PayloadKind::kG7231);
    EXPECT_TRUE(ParseSdp("").audio.empty());
}

TEST(SdpMalformed, OnlyTheFirstMediaLinesAreRead)
{
    // Every m= line counts toward the limit, audio or not.
    std::string text = Lines({"v=0", "c=IN IP4 192.0.2.1"});
    for (size_t k = 0; k + 1 < kMaxSdpMedia; ++k)
        text += "m=video " + std::to_string(5000 + 2 * k) + " RTP/AVP 31\r\n";
    text += Lines({"m=audio 4000 RTP/AVP 4", "m=audio 4002 RTP/AVP 4", "a=sendonly", "m=audio 4004 RTP/AVP 4"});
    const SessionDescription sdp = ParseSdp(text);
    ASSERT_EQ(sdp.audio.size(), 1u);
    EXPECT_EQ(sdp.audio[0].endpoint.port, 4000);
    EXPECT_EQ(sdp.audio[0].direction, MediaDirection::kSendReceive);  // the a= of a skipped media is not its
    EXPECT_EQ(sdp.skippedMedia, 2u);
}

}  // namespace
}  // namespace mervox::media::signalling
