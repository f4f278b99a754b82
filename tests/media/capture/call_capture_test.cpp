// The corpus capture of two real calls: stream discovery, counts, and the
// decoded audio of each call, checked against the recorded digests and
// against the source streams with the missing frames concealed.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "capture/capture.h"
#include "recorder/decoded_capture.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

const std::string kCall = "corpus/call-a.pcapng";

// Frames and digest recorded for `name` in expected-digests.txt.
std::pair<size_t, std::string> RecordedDigest(const std::string& name)
{
    std::ifstream in(test::DataPath("corpus/expected-digests.txt"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string n, hex;
        size_t frames = 0;
        if (fields >> n >> frames >> hex && n == name)
            return {frames, hex};
    }
    ADD_FAILURE() << "no digest for " << name;
    return {0, ""};
}

std::string Hex(uint64_t v)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

struct CallFacts {
    uint32_t ssrc;
    uint16_t sourcePort, destinationPort;
    uint64_t packets, duplicates, lostFrames, reordered, framesPerPacket;
    const char* source;  // the stream file the call was sent from
};

const CallFacts kCalls[] = {
    {0x11223344, 30000, 40000, 3791, 19, 134, 42, 1, "speech-a.63.bit"},
    {0x55667788, 30002, 40002, 1926, 6, 66, 18, 2, "speech-a.53.bit"},
};

void ExpectCallCounts(const CaptureReport& r)
{
    ASSERT_EQ(r.status, CaptureStatus::kOk) << r.message;
    ASSERT_EQ(r.streams.size(), 2u);
    EXPECT_EQ(r.counters.skipped[SkipReason::kNotRtp], 40u);  // the capture's non-RTP datagrams
    for (size_t i = 0; i < 2; ++i) {
        const CallFacts& want = kCalls[i];
        const timeline::RtpStream& s = r.streams[i];
        SCOPED_TRACE(SsrcText(want.ssrc));
        EXPECT_EQ(s.ssrc, want.ssrc);
        EXPECT_EQ(net::EndpointText(s.source), "127.0.0.1:" + std::to_string(want.sourcePort));
        EXPECT_EQ(net::EndpointText(s.destination), "127.0.0.1:" + std::to_string(want.destinationPort));
        const timeline::TimelineStats& t = s.stats;
        EXPECT_EQ(t.packets, want.packets);
        EXPECT_EQ(t.duplicates, want.duplicates);
        EXPECT_EQ(t.lostFrames, want.lostFrames);
        EXPECT_EQ(t.reordered, want.reordered);
        EXPECT_EQ(t.frames, (want.packets - want.duplicates) * want.framesPerPacket);
        EXPECT_EQ(t.TimelineFrames(), 3906u);
        EXPECT_EQ(t.overlapping, 0u);
        EXPECT_EQ(t.rateSwitches, 0u);
        EXPECT_EQ(t.silenceFrames, 0u);
    }
}

void ExpectRecordedAudio(const recorder::DecodedCapture& r)
{
    for (size_t i = 0; i < r.streams.size(); ++i) {
        const timeline::RtpStream& s = r.streams[i];
        const auto [frames, digest] = RecordedDigest("call-a." + SsrcText(s.ssrc));
        const std::vector<int16_t>& pcm = r.pcm[i];
        EXPECT_EQ(pcm.size(), frames * 240);
        EXPECT_EQ(Hex(test::Fnv1a64(pcm)), digest) << SsrcText(s.ssrc);
    }
}

TEST(CallCapture, FindsBothCallsWithTheirCounts)
{
    ExpectCallCounts(recorder::DecodeCaptureFile(test::DataPath(kCall)));
}

TEST(CallCapture, DecodesEachCallToItsExpectedOutput)
{
    ExpectRecordedAudio(recorder::DecodeCaptureFile(test::DataPath(kCall)));
}

TEST(CallCapture, ReadsTheSameFromMemory)
{
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(kCall));
    const recorder::DecodedCapture r = recorder::DecodeCaptureBytes(bytes.data(), bytes.size());
    ExpectCallCounts(r);
    ExpectRecordedAudio(r);
}

// Rewrites the pcapng capture as classic pcap with libpcap's own writer.
TEST(CallCapture, ClassicPcapGivesTheSameCalls)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline(test::DataPath(kCall).c_str(), error);
    ASSERT_NE(in, nullptr) << error;
    const std::string path = ::testing::TempDir() + "call-a-classic.pcap";
    pcap_dumper_t* out = pcap_dump_open(in, path.c_str());
    ASSERT_NE(out, nullptr) << pcap_geterr(in);
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(in, &header, &data) == 1)
        pcap_dump(reinterpret_cast<u_char*>(out), header, data);
    pcap_dump_close(out);
    pcap_close(in);

    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24, 0xa1b2c3d4u);
    const recorder::DecodedCapture r = recorder::DecodeCaptureFile(path);
    ExpectCallCounts(r);
    ExpectRecordedAudio(r);
    std::remove(path.c_str());
}

// Independent of the reader's ordering: walks the capture's UDP datagrams
// directly (Ethernet, IPv4 without options, RTP without extras, as this
// capture has them), places every frame by its timestamp, checks it against
// the source stream's frame at that place, and decodes the source stream
// with the frames that never arrived masked as lost.
std::vector<int16_t> ExpectedFromSource(uint16_t destinationPort, const std::vector<uint8_t>& source, size_t frameBytes)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline(test::DataPath(kCall).c_str(), error);
    EXPECT_NE(in, nullptr) << error;
    if (!in)
        return {};
    std::map<int64_t, std::vector<uint8_t>> framesAt;  // timestamp offset from the first packet
    bool first = true;
    uint32_t reference = 0;
    pcap_pkthdr* header;
    const u_char* p;
    while (pcap_next_ex(in, &header, &p) == 1) {
        if (header->caplen < 42 || (p[36] << 8 | p[37]) != destinationPort)
            continue;
        const uint32_t ts = static_cast<uint32_t>(p[46] << 24 | p[47] << 16 | p[48] << 8 | p[49]);
        if (first) {
            reference = ts;
            first = false;
        }
        const int64_t at = static_cast<int32_t>(ts - reference);
        for (size_t k = 0; 54 + (k + 1) * frameBytes <= header->caplen; ++k)
            framesAt[at + 240 * static_cast<int64_t>(k)].assign(p + 54 + k * frameBytes, p + 54 + (k + 1) * frameBytes);
    }
    pcap_close(in);
    if (framesAt.empty())
        return {};

    const int64_t start = framesAt.begin()->first;
    const size_t count = source.size() / frameBytes;
    std::vector<uint8_t> mask(count, 1);
    for (const auto& [at, bytes] : framesAt) {
        EXPECT_EQ((at - start) % 240, 0);
        const size_t index = static_cast<size_t>((at - start) / 240);
        EXPECT_LT(index, count);
        if (index >= count)
            continue;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), source.begin() + index * frameBytes))
            << "frame " << index << " differs from the source stream";
        mask[index] = 0;
    }
    return test::DecodeWithLegacyApi(source, mask);
}

TEST(CallCapture, EachCallIsItsSourceStreamWithTheMissingFramesConcealed)
{
    const recorder::DecodedCapture r = recorder::DecodeCaptureFile(test::DataPath(kCall));
    ASSERT_EQ(r.streams.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(kCalls[i].source);
        const std::vector<uint8_t> source =
            test::ReadFileBytes(test::DataPath(std::string("corpus/") + kCalls[i].source));
        const size_t frameBytes = i == 0 ? 24 : 20;
        const std::vector<int16_t> expected = ExpectedFromSource(kCalls[i].destinationPort, source, frameBytes);
        ASSERT_EQ(expected.size(), 3906u * 240);
        const std::vector<int16_t> decoded = r.pcm[i];
        ASSERT_EQ(decoded.size(), expected.size());
        size_t firstDifference = decoded.size();
        for (size_t n = 0; n < decoded.size() && firstDifference == decoded.size(); ++n)
            if (decoded[n] != expected[n])
                firstDifference = n;
        EXPECT_EQ(firstDifference, decoded.size()) << "first differing sample in frame " << firstDifference / 240;
        // The same expectation, through the recorded digest.
        EXPECT_EQ(Hex(test::Fnv1a64(expected)), RecordedDigest("call-a." + SsrcText(kCalls[i].ssrc)).second);
    }
}

TEST(CallCapture, TruncatedCaptureKeepsWhatWasRead)
{
    std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(kCall));
    const recorder::DecodedCapture whole = recorder::DecodeCaptureBytes(bytes.data(), bytes.size());
    bytes.resize(bytes.size() / 2 + 7);  // ends inside a block
    const recorder::DecodedCapture cut = recorder::DecodeCaptureBytes(bytes.data(), bytes.size());
    EXPECT_EQ(cut.status, CaptureStatus::kTruncated);
    EXPECT_FALSE(cut.message.empty());
    ASSERT_EQ(cut.streams.size(), 2u);
    ASSERT_EQ(whole.streams.size(), 2u);
    EXPECT_GT(cut.counters.records, 1000u);
    EXPECT_LT(cut.counters.records, whole.counters.records);
    // The audio decoded is the whole capture's beginning, but for the end
    // of the cut stream, which may miss packets that came after the cut.
    for (size_t i = 0; i < 2; ++i) {
        const std::vector<int16_t>& a = cut.pcm[i];
        const std::vector<int16_t>& b = whole.pcm[i];
        ASSERT_LT(a.size(), b.size());
        ASSERT_GT(a.size(), 240u * 4 * timeline::kReorderWindow);
        const size_t same = a.size() - 240u * 4 * timeline::kReorderWindow;
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + static_cast<long>(same), b.begin()));
    }
}

}  // namespace
}  // namespace mervox::media::capture
