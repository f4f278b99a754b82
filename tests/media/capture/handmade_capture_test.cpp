// Whole captures built in the test: link types, IPv6, multi-frame payloads
// with every frame type, wraps, a late first packet, garbage, truncation,
// and the datagrams a reader must skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "capture/capture.h"
#include "capture/packet_sorter.h"
#include "capture_builder.h"
#include "packets/link_layer.h"
#include "recorder/decoded_capture.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

using test::Bytes;

recorder::DecodedCapture Read(const test::PcapWriter& w, int payloadType = 4)
{
    CaptureOptions options;
    options.payloadType = payloadType;
    return recorder::DecodeCaptureBytes(w.bytes().data(), w.bytes().size(), options);
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A short call: `count` packets of one real 6.3 kbit/s frame each.
std::vector<Bytes> CallPackets(size_t count, uint16_t firstSequence, uint32_t firstTimestamp,
                               uint32_t ssrc = 0xabcdef01, int payloadType = 4)
{
    static const std::vector<Bytes> frames = test::StreamFrames("speech-a.63.bit");
    std::vector<Bytes> packets;
    for (size_t k = 0; k < count; ++k) {
        test::Rtp h;
        h.sequence = static_cast<uint16_t>(firstSequence + k);
        h.timestamp = firstTimestamp + static_cast<uint32_t>(240 * k);
        h.ssrc = ssrc;
        h.payloadType = payloadType;
        packets.push_back(test::RtpBytes(h, frames[k]));
    }
    return packets;
}

Bytes Ipv4(const Bytes& rtp, uint16_t sourcePort = 5004, uint16_t destinationPort = 6004)
{
    return test::Ipv4Udp("192.0.2.10", sourcePort, "192.0.2.20", destinationPort, rtp);
}

TEST(HandmadeCapture, Ipv6CallWithALostPacketDecodesLikeItsStreamFile)
{
    const std::vector<Bytes> frames = test::StreamFrames("speech-a.53.bit");
    test::PcapWriter w;
    Bytes stream;
    std::vector<uint8_t> mask;
    for (uint16_t k = 0; k < 30; ++k) {
        stream.insert(stream.end(), frames[k].begin(), frames[k].end());
        mask.push_back(k == 7);
        if (k == 7)
            continue;  // never arrives
        test::Rtp h;
        h.sequence = static_cast<uint16_t>(1000 + k);
        h.timestamp = 240u * k;
        w.Add(test::Ethernet(
            test::Ipv6Udp("2001:db8::a", 7078, "2001:db8::b", 9078, test::RtpBytes(h, frames[k]), k % 2)));
    }
    const recorder::DecodedCapture r = Read(w);
    ASSERT_EQ(r.status, CaptureStatus::kOk);
    ASSERT_EQ(r.streams.size(), 1u);
    const timeline::RtpStream& s = r.streams[0];
    EXPECT_EQ(net::EndpointText(s.source), "[2001:db8::a]:7078");
    EXPECT_EQ(net::EndpointText(s.destination), "[2001:db8::b]:9078");
    EXPECT_EQ(s.stats.packets, 29u);
    EXPECT_EQ(s.stats.lostFrames, 1u);
    EXPECT_EQ(r.pcm[0], mervox::test::DecodeWithLegacyApi(stream, mask));
}

TEST(HandmadeCapture, EveryLinkTypeGivesTheSameStream)
{
    const std::vector<Bytes> packets = CallPackets(5, 1, 0);
    const Bytes sll = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
    const Bytes sll2 = {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
    const Bytes null = {2, 0, 0, 0};
    const Bytes loop = {0, 0, 0, 2};
    struct Case {
        int link;
        Bytes header;
        uint16_t vlan;
    };
    const Case cases[] = {{packets::kLinkEthernet, {}, 0},  {packets::kLinkEthernet, {}, 100},
                          {packets::kLinkLinuxSll, sll, 0}, {packets::kLinkLinuxSll2, sll2, 0},
                          {packets::kLinkRaw, {}, 0},       {packets::kLinkNull, null, 0},
                          {packets::kLinkLoop, loop, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        test::PcapWriter w(c.link);
        for (const Bytes& p : packets)
            w.Add(c.link == packets::kLinkEthernet ? test::Ethernet(Ipv4(p), c.vlan) : Concat({c.header, Ipv4(p)}));
        const recorder::DecodedCapture r = Read(w);
        // libpcap reports the file's 101 as its own DLT_RAW.
        EXPECT_EQ(r.linkTypes, std::vector<int>{c.link == packets::kLinkRaw ? packets::kLinkRawBsd : c.link});
        ASSERT_EQ(r.streams.size(), 1u);
        EXPECT_EQ(r.streams[0].ssrc, 0xabcdef01u);
        EXPECT_EQ(r.streams[0].stats.frames, 5u);
        EXPECT_EQ(net::EndpointText(r.streams[0].source), "192.0.2.10:5004");
    }
}

// pcapng: every interface has its own link type, and a later section (here
// big-endian) may bring others. One call per interface, all decoded.
TEST(HandmadeCapture, PcapngInterfacesWithDifferentLinkTypes)
{
    const Bytes sll = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
    const Bytes sll2 = {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
    test::PcapngWriter w;
    const uint32_t ethernet = w.Interface(packets::kLinkEthernet);
    const uint32_t raw = w.Interface(packets::kLinkRaw, 9);  // nanosecond timestamps
    const uint32_t cooked = w.Interface(packets::kLinkLinuxSll);
    const std::vector<Bytes> a = CallPackets(10, 1, 0, 0xa), b = CallPackets(10, 1, 0, 0xb),
                             c = CallPackets(10, 1, 0, 0xc), d = CallPackets(10, 1, 0, 0xd);
    for (size_t k = 0; k < 10; ++k) {
        w.Add(ethernet, test::Ethernet(Ipv4(a[k])), 1700000000000000u + 30000 * k);
        w.Add(raw, Ipv4(b[k]), 1700000000000000000u + 30000000 * k);
        w.Add(cooked, Concat({sll, Ipv4(c[k])}), 1700000000000000u + 30000 * k);
    }
    w.Section(true);
    const uint32_t cooked2 = w.Interface(packets::kLinkLinuxSll2);
    for (size_t k = 0; k < 10; ++k)
        w.Add(cooked2, Concat({sll2, Ipv4(d[k])}), 1700000001000000u + 30000 * k);
    w.Add(7, Ipv4(d[0]), 0);  // an interface the section never described

    const recorder::DecodedCapture r = recorder::DecodeCaptureBytes(w.bytes().data(), w.bytes().size());
    ASSERT_EQ(r.status, CaptureStatus::kOk) << r.message;
    EXPECT_EQ(r.linkTypes, (std::vector<int>{packets::kLinkEthernet, packets::kLinkRaw, packets::kLinkLinuxSll,
                                             packets::kLinkLinuxSll2}));
    EXPECT_EQ(r.counters.skipped[SkipReason::kUnknownInterface], 1u);
    ASSERT_EQ(r.streams.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.streams[i].ssrc, 0xau + i);
        EXPECT_EQ(r.streams[i].stats.frames, 10u);
        EXPECT_EQ(r.pcm[i], r.pcm[0]);
    }
    EXPECT_DOUBLE_EQ(r.streams[1].firstArrival, 1700000000.0);
    EXPECT_DOUBLE_EQ(r.streams[3].firstArrival, 1700000001.0);
}

// Ordinary UDP traffic that happens to carry version 2 and payload type 4
// where RTP would: DNS with 0x80.. identifiers and 0x..04 low bytes, even
// with payloads as long as a frame. Beside it, one call.
TEST(HandmadeCapture, DnsTrafficIsNoStream)
{
    test::PcapWriter w;
    const std::vector<Bytes> call = CallPackets(100, 1, 0);
    std::mt19937 random(53);
    for (size_t k = 0; k < 5000; ++k) {
        const auto id = static_cast<uint16_t>(0x8004 | (random() & 0x3f00) | (random() & 0x80));
        const bool response = k % 2;
        Bytes dns = {static_cast<uint8_t>(id >> 8),
                     static_cast<uint8_t>(id),
                     static_cast<uint8_t>(response ? 0x81 : 0x01),
                     static_cast<uint8_t>(response ? 0x80 : 0x00),
                     0,
                     1,
                     0,
                     response,
                     0,
                     0,
                     0,
                     0};
        // A name whose first label is 12 letters long: 24 bytes, as a 6.3 kbit/s frame.
        const Bytes question = {12,  'r', 'e', 's', 'o', 'l', 'v', 'e', 'r', 't', 'e', 's',
                                't', 3,   'o', 'r', 'g', 0,   0,   1,   0,   1,   0,   0};
        dns.insert(dns.end(), question.begin(), question.end());
        const auto port = static_cast<uint16_t>(40000 + random() % 3);  // a few client ports, reused
        w.Add(test::Ethernet(response ? test::Ipv4Udp("192.0.2.53", 53, "192.0.2.10", port, dns)
                                      : test::Ipv4Udp("192.0.2.10", port, "192.0.2.53", 53, dns)));
        if (k % 50 == 0)
            w.Add(test::Ethernet(Ipv4(call[k / 50])));
    }
    const recorder::DecodedCapture r = Read(w);
    ASSERT_EQ(r.streams.size(), 1u);
    EXPECT_EQ(r.streams[0].ssrc, 0xabcdef01u);
    EXPECT_EQ(r.streams[0].stats.frames, 100u);
    // Whole frames, but never several with sequence numbers that go on (the
    // DNS flags stand where the sequence number would).
    EXPECT_GT(r.counters.skipped[SkipReason::kTooFewPackets], 0u);
    uint64_t skipped = 0;
    for (uint64_t n : r.counters.skipped.counts)
        skipped += n;
    EXPECT_EQ(skipped, 5000u);
    EXPECT_EQ(r.counters.records, 5100u);
}

// A few datagrams of whole frames are no stream yet; three with close
// sequence numbers are.
TEST(HandmadeCapture, AStreamTakesSeveralConsistentPackets)
{
    const std::vector<Bytes> call = CallPackets(3, 500, 0);
    test::PcapWriter twoPackets;
    twoPackets.Add(test::Ethernet(Ipv4(call[0])));
    twoPackets.Add(test::Ethernet(Ipv4(call[1])));
    EXPECT_TRUE(Read(twoPackets).streams.empty());

    test::PcapWriter farApart = twoPackets;
    Bytes far = call[2];
    far[2] ^= 0x40;  // sequence number 500 + 2 + 16384
    farApart.Add(test::Ethernet(Ipv4(far)));
    const CaptureReport r = Read(farApart);
    EXPECT_TRUE(r.streams.empty());
    EXPECT_EQ(r.counters.skipped[SkipReason::kTooFewPackets], 3u);

    test::PcapWriter three = twoPackets;
    three.Add(test::Ethernet(Ipv4(call[2])));
    ASSERT_EQ(Read(three).streams.size(), 1u);
    EXPECT_EQ(Read(three).streams[0].stats.frames, 3u);

    // Payloads that are not whole frames (a 6.3 kbit/s frame and 3 bytes more).
    test::PcapWriter notFrames;
    for (uint16_t k = 0; k < 5; ++k) {
        test::Rtp h;
        h.sequence = k;
        h.timestamp = 240u * k;
        notFrames.Add(test::Ethernet(Ipv4(test::RtpBytes(h, Bytes(27, 0x40)))));
    }
    const CaptureReport n = Read(notFrames);
    EXPECT_TRUE(n.streams.empty());
    EXPECT_EQ(n.counters.skipped[SkipReason::kNotG7231], 5u);
}

// Streams are decoded while the capture is read: one that goes idle for
// longer than kStreamIdleSeconds ends (its samples all delivered) before the
// capture does, and its SSRC coming back later is a new stream.
TEST(HandmadeCapture, IdleStreamsEndWhileTheCaptureIsRead)
{
    struct Events : StreamConsumer {
        std::vector<std::string> log;
        void StreamStarted(size_t id, const timeline::StreamInfo& info) override
        {
            log.push_back("start " + std::to_string(id) + " #" + std::to_string(info.number));
        }
        bool Frames(size_t, const uint8_t*, size_t, uint64_t) override { return true; }
        void StreamEnded(size_t id, const timeline::RtpStream& s) override
        {
            log.push_back("end " + std::to_string(id) + " " + std::to_string(s.stats.frames));
        }
    } events;
    const std::vector<Bytes> call = CallPackets(20, 1, 0);
    Bytes capture = test::PcapFileHeader(1);
    auto add = [&](const Bytes& packet, uint32_t seconds) {
        const Bytes record = test::PcapRecord(test::Ethernet(packet), seconds, 0);
        capture.insert(capture.end(), record.begin(), record.end());
    };
    for (size_t k = 0; k < 10; ++k)
        add(Ipv4(call[k]), 1000);
    // Other traffic for 10 minutes.
    for (uint64_t k = 0; k < 2 * kIdleSweepRecords; ++k)
        add(test::Ipv4Udp("192.0.2.1", 9, "192.0.2.2", 9, Bytes(4, 0)),
            static_cast<uint32_t>(1000 + k * 600 / (2 * kIdleSweepRecords)));
    for (size_t k = 10; k < 20; ++k)
        add(Ipv4(call[k]), 1600);
    const CaptureReport r = ReadCaptureBytes(capture.data(), capture.size(), {}, events);
    EXPECT_EQ(events.log, (std::vector<std::string>{"start 0 #1", "end 0 10", "start 1 #2", "end 1 10"}));
    ASSERT_EQ(r.streams.size(), 2u);
    EXPECT_EQ(r.streams[1].number, 2);
}

TEST(HandmadeCapture, ManyTinyStreamsCannotBuyHoursOfConcealment)
{
    // 200 streams of 3 speech packets, each packet 59.97 s of RTP time after
    // the one before, captured 20 ms apart: 56 KB that once asked for 200
    // minutes of concealment, a minute per stream.
    auto decode = [](size_t streams, bool limit) {
        Bytes capture = test::PcapFileHeader(1);
        uint64_t micros = uint64_t{1700000000} * 1000000;
        test::AppendStreams(capture, micros, {0x1000, streams, 3, 1999, 20000});
        const std::string path = ::testing::TempDir() + "mervox-tiny-streams.pcap";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_TRUE(f && std::fwrite(capture.data(), 1, capture.size(), f) == capture.size());
        if (f)
            std::fclose(f);
        CaptureOptions options;
        options.timeline.limitConcealment = limit;
        recorder::DecodedCapture r = recorder::DecodeCaptureFile(path, options);
        std::remove(path.c_str());
        EXPECT_EQ(r.streams.size(), streams);
        return r;
    };
    const recorder::DecodedCapture r = decode(200, true);
    uint64_t frames = 0, real = 0, samples = 0, bound = 0;
    for (size_t i = 0; i < r.streams.size(); ++i) {
        const timeline::RtpStream& s = r.streams[i];
        const uint64_t streamReal = s.stats.speechFrames + s.stats.descriptorFrames;
        // Not proved real: ten lost frames per real frame before each gap,
        // no allowance.
        EXPECT_EQ(s.stats.lostFrames, 20u);
        EXPECT_EQ(s.stats.unfilledFrames, 2u * 1998 - 20);
        EXPECT_EQ(r.pcm[i].size(), s.stats.TimelineFrames() * 240);
        frames += s.stats.frames;
        real += streamReal;
        samples += r.pcm[i].size();
        bound += s.stats.frames + timeline::ConcealmentLimit(streamReal, CaptureOptions().timeline);
    }
    // The whole capture: each stream its frames and what they pay for, and
    // at most 30 lost frames per real frame in all.
    EXPECT_LE(samples, bound * 240);
    EXPECT_LE(samples, (frames + timeline::kCaptureConcealPerRealFrame * real) * 240);
    EXPECT_EQ(samples, 200u * 23 * 240);
    // Lifted on request: every gap filled.
    const recorder::DecodedCapture all = decode(5, false);
    for (size_t i = 0; i < all.streams.size(); ++i) {
        EXPECT_EQ(all.streams[i].stats.lostFrames, 2u * 1998);
        EXPECT_EQ(all.pcm[i].size(), (3 + 2 * 1998) * 240u);
    }
}

TEST(HandmadeCapture, UnsupportedLinkTypeIsReported)
{
    test::PcapWriter w(105);  // 802.11
    for (const Bytes& p : CallPackets(3, 1, 0))
        w.Add(p);
    const recorder::DecodedCapture r = Read(w);
    EXPECT_EQ(r.status, CaptureStatus::kOk);
    EXPECT_TRUE(r.streams.empty());
    EXPECT_EQ(r.counters.skipped[SkipReason::kUnsupportedLink], 3u);
    EXPECT_NE(r.message.find("105"), std::string::npos) << r.message;
}

// Mixed payloads, both wraps and a late first packet in one call: the
// decode must equal the stream file holding the same frames in order.
TEST(HandmadeCapture, MixedMultiFramePayloadsAcrossBothWraps)
{
    const std::vector<Bytes> rate63 = test::StreamFrames("speech-a.63.bit");
    const std::vector<Bytes> rate53 = test::StreamFrames("speech-a.53.bit");
    const Bytes sid = {0x02, 0x11, 0x22, 0x33};
    const Bytes untransmitted = {0x03};
    // Frames per packet, by type: 0 = 6.3, 1 = 5.3, 2 = SID, 3 = untransmitted.
    const std::vector<std::string> layout = {"0", "01", "1",  "12", "3",  "33", "0", "10", "0", "1",
                                             "2", "0",  "00", "1",  "01", "1",  "0", "3",  "1", "0"};
    Bytes stream;
    std::vector<Bytes> packets;
    uint32_t timestamp = 0xffffffffu - 240 * 6 + 1;  // wraps after 6 frames
    uint16_t sequence = 65530;                       // wraps after 6 packets
    size_t used = 0;
    for (const std::string& types : layout) {
        Bytes payload;
        for (char t : types) {
            const Bytes& f = t == '0' ? rate63[used] : t == '1' ? rate53[used] : t == '2' ? sid : untransmitted;
            ++used;
            payload.insert(payload.end(), f.begin(), f.end());
        }
        stream.insert(stream.end(), payload.begin(), payload.end());
        test::Rtp h;
        h.sequence = sequence++;
        h.timestamp = timestamp;
        timestamp += static_cast<uint32_t>(240 * types.size());
        packets.push_back(test::RtpBytes(h, payload));
    }
    // Arrival: the second packet first, then the first; one more swap later.
    std::swap(packets[0], packets[1]);
    std::swap(packets[9], packets[10]);
    test::PcapWriter w;
    for (const Bytes& p : packets)
        w.Add(test::Ethernet(Ipv4(p)));

    const recorder::DecodedCapture r = Read(w);
    ASSERT_EQ(r.streams.size(), 1u);
    const timeline::TimelineStats& t = r.streams[0].stats;
    EXPECT_EQ(t.frames, used);
    EXPECT_EQ(t.lostFrames, 0u);
    EXPECT_EQ(t.reordered, 2u);
    EXPECT_EQ(t.silenceFrames, 6u);
    const std::vector<int16_t> pcm = r.pcm[0];
    EXPECT_EQ(pcm.size(), used * 240);
    EXPECT_EQ(pcm, mervox::test::DecodeWithLegacyApi(stream));
}

TEST(HandmadeCapture, SkipsAndCountsWhatIsNotTheCall)
{
    const std::vector<Bytes> call = CallPackets(6, 40, 4000);
    test::PcapWriter w;
    auto add = [&](const Bytes& ip) { w.Add(test::Ethernet(ip)); };
    add(Ipv4(call[0]));
    add(test::Ipv4Udp("192.0.2.10", 53, "192.0.2.20", 53, {0x12, 0x34, 0x01, 0x00}));  // DNS-like, too short
    add(Ipv4(Bytes(40, 0x00)));                                                        // version 0
    add(Ipv4(call[1]));
    test::Rtp events;  // telephone events on the call's own SSRC
    events.ssrc = 0xabcdef01;
    events.payloadType = 101;
    events.sequence = 42;
    add(Ipv4(test::RtpBytes(events, {1, 2, 3, 4})));
    Bytes csrcOverrun = call[2];
    csrcOverrun[0] |= 0x0f;  // 15 CSRCs claimed
    add(Ipv4(csrcOverrun));
    Bytes paddingOverrun = call[3];
    paddingOverrun[0] |= 0x20;
    paddingOverrun.back() = 200;
    add(Ipv4(paddingOverrun));
    Bytes fragment = Ipv4(call[4]);
    fragment[6] = 0x20;
    add(fragment);
    Bytes tcp = Ipv4(call[4]);
    tcp[9] = 6;
    add(tcp);
    Bytes arp = test::Ethernet(Ipv4(call[4]));
    arp[12] = 0x08;
    arp[13] = 0x06;
    w.Add(arp);
    // Cut by the capture's snap length: 30 bytes of a longer packet.
    const Bytes whole = test::Ethernet(Ipv4(call[4]));
    w.Add(Bytes(whole.begin(), whole.begin() + 30), static_cast<uint32_t>(whole.size()));
    add(Ipv4(call[5]));

    const recorder::DecodedCapture r = Read(w);
    ASSERT_EQ(r.status, CaptureStatus::kOk);
    const CaptureCounters& c = r.counters;
    EXPECT_EQ(c.records, 12u);
    EXPECT_EQ(c.skipped[SkipReason::kNotRtp], 2u);
    EXPECT_EQ(c.skipped[SkipReason::kOtherPayloadType], 1u);
    EXPECT_EQ(c.skipped[SkipReason::kMalformedRtp], 2u);
    EXPECT_EQ(c.skipped[SkipReason::kFragment], 1u);
    EXPECT_EQ(c.skipped[SkipReason::kNotUdp], 1u);
    EXPECT_EQ(c.skipped[SkipReason::kNotIp], 1u);
    EXPECT_EQ(c.skipped[SkipReason::kCutShort], 1u);
    EXPECT_EQ(c.streamPackets, 3u);
    ASSERT_EQ(r.streams.size(), 1u);
    EXPECT_EQ(r.streams[0].stats.packets, 3u);
    EXPECT_EQ(r.streams[0].stats.lostFrames, 3u);  // packets 42..44 skipped above
}

TEST(HandmadeCapture, StreamsAreSeparatedBySsrcAndAddresses)
{
    test::PcapWriter w;
    const std::vector<Bytes> a = CallPackets(4, 1, 0, 0x1111);
    const std::vector<Bytes> b = CallPackets(4, 500, 9999, 0x2222);
    for (size_t k = 0; k < 4; ++k) {
        w.Add(test::Ethernet(Ipv4(b[k], 5004, 6004)));
        w.Add(test::Ethernet(Ipv4(a[k], 5004, 6004)));
        w.Add(test::Ethernet(Ipv4(a[k], 5006, 6006)));  // same SSRC, other ports
    }
    const recorder::DecodedCapture r = Read(w);
    ASSERT_EQ(r.streams.size(), 3u);
    // In order of their first packet.
    EXPECT_EQ(r.streams[0].ssrc, 0x2222u);
    EXPECT_EQ(r.streams[1].ssrc, 0x1111u);
    EXPECT_EQ(r.streams[1].source.port, 5004);
    EXPECT_EQ(r.streams[2].ssrc, 0x1111u);
    EXPECT_EQ(r.streams[2].source.port, 5006);
    for (const timeline::RtpStream& s : r.streams) {
        EXPECT_EQ(s.stats.packets, 4u);
        EXPECT_EQ(s.stats.duplicates, 0u);
    }
}

TEST(HandmadeCapture, DynamicPayloadTypeIsFoundOnlyWhenAsked)
{
    test::PcapWriter w;
    for (const Bytes& p : CallPackets(4, 1, 0, 0x3333, 96))
        w.Add(test::Ethernet(Ipv4(p)));
    const CaptureReport standard = Read(w);
    EXPECT_TRUE(standard.streams.empty());
    EXPECT_EQ(standard.counters.skipped[SkipReason::kOtherPayloadType], 4u);
    const CaptureReport dynamic = Read(w, 96);
    ASSERT_EQ(dynamic.streams.size(), 1u);
    EXPECT_EQ(dynamic.streams[0].payloadType, 96);
    EXPECT_EQ(dynamic.streams[0].stats.frames, 4u);
}

TEST(HandmadeCapture, GarbageIsNotACapture)
{
    std::mt19937 random(7);
    Bytes noise(5000);
    for (uint8_t& b : noise)
        b = static_cast<uint8_t>(random());
    const std::string text = "this is a text file, not a capture\n";
    const Bytes pcapngMagicThenNoise = Concat({{0x0a, 0x0d, 0x0d, 0x0a, 0xff, 0xff, 0xff, 0x7f}, noise});
    const std::vector<Bytes> inputs = {noise, Bytes(text.begin(), text.end()), {0xd4, 0xc3}, pcapngMagicThenNoise};
    for (const Bytes& in : inputs) {
        const recorder::DecodedCapture r = recorder::DecodeCaptureBytes(in.data(), in.size());
        EXPECT_EQ(r.status, CaptureStatus::kNotACapture) << in.size();
        EXPECT_FALSE(r.message.empty());
        EXPECT_TRUE(r.streams.empty());
    }
    EXPECT_EQ(recorder::DecodeCaptureBytes(nullptr, 0).status, CaptureStatus::kNotACapture);
    // A file that cannot be opened is no judgement on its contents.
    const recorder::DecodedCapture missing = recorder::DecodeCaptureFile("/nonexistent/capture.pcap");
    EXPECT_EQ(missing.status, CaptureStatus::kUnreadable);
    EXPECT_EQ(missing.systemError, ENOENT);
}

TEST(HandmadeCapture, HeaderOnlyCaptureIsEmptyNotAnError)
{
    const test::PcapWriter w;
    const recorder::DecodedCapture r = Read(w);
    EXPECT_EQ(r.status, CaptureStatus::kOk);
    EXPECT_EQ(r.counters.records, 0u);
    EXPECT_TRUE(r.streams.empty());
}

TEST(HandmadeCapture, TruncatedClassicPcapKeepsTheRecordsBeforeTheCut)
{
    test::PcapWriter w;
    for (const Bytes& p : CallPackets(10, 1, 0))
        w.Add(test::Ethernet(Ipv4(p)));
    const size_t recordBytes = (w.bytes().size() - 24) / 10;
    for (size_t cut : {size_t{10}, recordBytes - 1, recordBytes / 2}) {
        SCOPED_TRACE(cut);
        Bytes bytes = w.bytes();
        bytes.resize(24 + 6 * recordBytes + cut);  // inside the seventh record
        const recorder::DecodedCapture r = recorder::DecodeCaptureBytes(bytes.data(), bytes.size());
        EXPECT_EQ(r.status, CaptureStatus::kTruncated);
        EXPECT_FALSE(r.message.empty());
        ASSERT_EQ(r.streams.size(), 1u);
        EXPECT_EQ(r.streams[0].stats.frames, 6u);
    }
}

// Random damage to a valid capture must never crash or hang the reader,
// and what it reports must stay consistent.
TEST(HandmadeCapture, DamagedCapturesAreReadSafely)
{
    test::PcapWriter w;
    for (const Bytes& p : CallPackets(40, 65500, 0xfffff000u))
        w.Add(test::Ethernet(Ipv4(p)));
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes bytes = w.bytes();
        for (int k = 0; k < 8; ++k)
            bytes[24 + random() % (bytes.size() - 24)] = static_cast<uint8_t>(random());
        const recorder::DecodedCapture r = recorder::DecodeCaptureBytes(bytes.data(), bytes.size());
        for (size_t i = 0; i < r.streams.size(); ++i) {
            const timeline::TimelineStats& t = r.streams[i].stats;
            ASSERT_LE(t.packets, 40u);
            ASSERT_LE(t.duplicates + t.late, t.packets);
            ASSERT_LE(t.frames, 40u * 24);
            ASSERT_EQ(r.pcm[i].size(), t.TimelineFrames() * 240);
        }
    }
}

}  // namespace
}  // namespace mervox::media::capture
