// `mervox pcap` as a user runs it: the real binary on the corpus capture and
// on broken inputs, checking files, reports and exit codes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "capture/capture.h"
#include "capture_builder.h"
#include "cli_test_support.h"
#include "decode/frame_decoder.h"
#include "recorder/decoded_capture.h"
#include "records/record_reader.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

// The command under test; MERVOX_TEST_CLI runs these tests on another build
// of it (an older one, to see a test fail before its fix).
std::string Cli()
{
    const char* other = std::getenv("MERVOX_TEST_CLI");
    return other && *other ? other : MERVOX_CLI_PATH;
}

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

using mervox::test::Slurp;

class PcapCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process number too: builds of other configurations may run
        // the same test at the same time.
        dir_ = ::testing::TempDir() + "mervox-pcap-" + info->test_suite_name() + "." + info->name() + "-" +
               std::to_string(getpid());
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // `shell`: commands for the shell to run first.
    CommandResult Mervox(const std::string& arguments, const std::string& shell = "") const
    {
        const std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
        const std::string command = shell + Cli() + " " + arguments + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        CommandResult r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }

    std::string Write(const std::string& name, const test::Bytes& bytes) const
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string dir_;
};

// Samples of a 16-bit mono 8 kHz WAV file (the "data" chunk).
std::vector<int16_t> WavSamples(const std::string& path)
{
    const std::vector<uint8_t> b = mervox::test::ReadFileBytes(path);
    auto le32 = [&](size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    };
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE") {
        ADD_FAILURE() << path << " is not a WAV file";
        return {};
    }
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 4));
        const size_t size = le32(at + 4);
        if (id == "fmt ") {
            EXPECT_EQ(b[at + 8] | b[at + 9] << 8, 1);     // PCM
            EXPECT_EQ(b[at + 10] | b[at + 11] << 8, 1);   // mono
            EXPECT_EQ(le32(at + 12), 8000u);              // sample rate
            EXPECT_EQ(b[at + 22] | b[at + 23] << 8, 16);  // bits
        }
        if (id == "data") {
            std::vector<int16_t> samples(std::min(size, b.size() - at - 8) / 2);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<int16_t>(b[at + 8 + 2 * i] | b[at + 9 + 2 * i] << 8);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << path << " has no data chunk";
    return {};
}

std::string DigestOf(const std::vector<int16_t>& samples)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(mervox::test::Fnv1a64(samples)));
    return hex;
}

const std::string kCall = mervox::test::DataPath("corpus/call-a.pcapng");

TEST_F(PcapCommand, DecodesBothCallsOfTheCorpusCapture)
{
    const CommandResult r = Mervox("pcap --layout streams '" + kCall + "' -o '" + dir_ + "/call'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Digests as in tests/data/corpus/expected-digests.txt.
    EXPECT_EQ(DigestOf(WavSamples(dir_ + "/call-0x11223344.wav")), "940a3468db599e8b");
    EXPECT_EQ(DigestOf(WavSamples(dir_ + "/call-0x55667788.wav")), "225576ec47b25607");
    EXPECT_NE(r.out.find("127.0.0.1:30000 -> 127.0.0.1:40000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3791 (19 duplicates, 42 reordered)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("lost frames:    66"), std::string::npos) << r.out;
}

// A capture read from a named pipe loses no byte to the check that the
// input is there and not empty (which reads only regular files).
TEST_F(PcapCommand, DecodesACaptureFromANamedPipe)
{
    const std::string fifo = dir_ + "/call.pipe";
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    const CommandResult r = Mervox("pcap --layout streams '" + fifo + "' -o '" + dir_ + "/call'",
                                   "cat '" + kCall + "' >'" + fifo + "' 2>/dev/null & timeout 120 ");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(DigestOf(WavSamples(dir_ + "/call-0x11223344.wav")), "940a3468db599e8b");
    EXPECT_EQ(DigestOf(WavSamples(dir_ + "/call-0x55667788.wav")), "225576ec47b25607");
}

// -o with date fields: each call in the folder of its UTC start, made as
// the call is written; an unknown field is refused before anything is read.
TEST_F(PcapCommand, OutputFoldersByDate)
{
    const CommandResult r = Mervox("pcap -q '" + kCall + "' -o '" + dir_ + "/calls/%Y/%m/%d/'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string day = dir_ + "/calls/2026/12/07/";
    EXPECT_EQ(DigestOf(WavSamples(day + "call-a-20261207T070447Z-127.0.0.1_30000-127.0.0.1_40000.wav")),
              "940a3468db599e8b");
    EXPECT_EQ(mervox::test::ListDir(dir_ + "/calls").size(), 1u);  // no scratch left, nothing else
    const CommandResult bad = Mervox("pcap -q '" + kCall + "' -o '" + dir_ + "/x/%q/'");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown date field \"%q\""), std::string::npos) << bad.err;
    EXPECT_FALSE(mervox::test::FileExists(dir_ + "/x"));
}

TEST_F(PcapCommand, ReportThatCannotBeWrittenFails)
{
    const std::string command =
        Cli() + " pcap --layout streams '" + kCall + "' -o '" + dir_ + "/full' >/dev/full 2>'" + dir_ + "/stderr'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    // The error of the failed write, not whatever errno held later.
    EXPECT_NE(Slurp(dir_ + "/stderr").find("No space left on device"), std::string::npos) << Slurp(dir_ + "/stderr");
}

TEST_F(PcapCommand, OneOutputThatCannotBeWrittenDoesNotStopTheOthers)
{
    ASSERT_EQ(std::system(("mkdir '" + dir_ + "/c-0x11223344.wav'").c_str()), 0);
    for (const std::string jobs : {"1", "2", "3"}) {  // on this thread, or on workers
        SCOPED_TRACE("-j " + jobs);
        const CommandResult r = Mervox("pcap --layout streams --json '" + kCall + "' -o '" + dir_ + "/c' -j " + jobs);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_NE(r.err.find(dir_ + "/c-0x11223344.wav"), std::string::npos) << r.err;
        EXPECT_EQ(DigestOf(WavSamples(dir_ + "/c-0x55667788.wav")), "225576ec47b25607");
        const nlohmann::json j = nlohmann::json::parse(r.out);
        EXPECT_EQ(j["streams"][0]["written"], false);
        EXPECT_NE(j["streams"][0]["error"].get<std::string>().find("c-0x11223344.wav"), std::string::npos);
        EXPECT_EQ(j["streams"][1]["written"], true);
        std::remove((dir_ + "/c-0x55667788.wav").c_str());
    }
}

// Every stream of a capture decoded alone, one frame after the other
// (FrameDecoder, not the batch call), each into its samples.
recorder::DecodedCapture DecodeOneByOne(const std::string& path)
{
    struct OneByOne : StreamConsumer {
        std::map<size_t, decode::FrameDecoder> decoders;
        std::map<size_t, std::vector<int16_t>> pcm;
        void StreamStarted(size_t id, const timeline::StreamInfo&) override
        {
            decoders.emplace(id, std::move(decode::FrameDecoder::Create().value()));
        }
        bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) override
        {
            FramePcm out;
            for (uint64_t k = 0; k < count; ++k) {
                if (frame)
                    decoders.at(id).Decode(frame, size, false, out);
                else
                    decoders.at(id).ConcealMissing(out);
                pcm[id].insert(pcm[id].end(), out.begin(), out.end());
            }
            return true;
        }
        void StreamEnded(size_t, const timeline::RtpStream&) override {}
    } consumer;
    recorder::DecodedCapture report;
    static_cast<CaptureReport&>(report) = ReadCapture(path, {}, consumer);
    for (const timeline::RtpStream& s : report.streams)
        report.pcm.push_back(std::move(consumer.pcm[s.id]));
    return report;
}

// Many calls at once, more than one mervox_decode_many call takes: every
// stream's file is the same whatever the number of threads, and the same as
// that stream decoded alone, one frame after the other.
// The calls differ in rate, frames per packet, start and length (so they
// leave the batches at different times), and some have lost, reordered,
// duplicate and late packets, silence and a long gap.
TEST_F(PcapCommand, ThreadsAndBatchesChangeNoOutput)
{
    const char* streams[] = {"speech-a.63.bit", "speech-a.53.bit", "speech-a.mixed.bit", "speech-a.63-vad.bit",
                             "speech-a.53-vad.bit"};
    std::vector<std::vector<test::Bytes>> frames;
    for (const char* s : streams)
        frames.push_back(test::StreamFrames(s));
    constexpr unsigned kCalls = 71;   // more than the 64 streams of one call
    constexpr size_t kPackets = 240;  // of the longest call
    struct Held {
        size_t until;
        test::Bytes packet;
    };
    std::vector<Held> held;  // late packets, sent 70 packets after their turn
    test::PcapWriter pcap;
    for (size_t p = 0; p < kPackets + 70; ++p) {
        for (auto h = held.begin(); h != held.end();) {
            if (h->until == p) {
                pcap.Add(h->packet);
                h = held.erase(h);
            } else {
                ++h;
            }
        }
        for (unsigned c = 0; c < kCalls; ++c) {
            const size_t packets = kPackets - 3 * c;
            if (p >= packets)
                continue;
            const size_t at = (p % 10 == 3 && c % 3 == 0) ? p + 1 : (p % 10 == 4 && c % 3 == 0) ? p - 1 : p;
            if ((p * 7 + c) % 23 == 0 || (c % 10 == 5 && p >= 50 && p < 90))
                continue;  // lost, or a long gap
            const size_t perPacket = 1 + c % 2;
            const std::vector<test::Bytes>& f = frames[c % frames.size()];
            test::Bytes payload;
            for (size_t k = 0; k < perPacket; ++k) {
                const test::Bytes& frame = f[7 * c + perPacket * at + k];
                payload.insert(payload.end(), frame.begin(), frame.end());
            }
            test::Rtp rtp;
            rtp.sequence = static_cast<uint16_t>(at + 100 * c);
            rtp.timestamp = static_cast<uint32_t>(240 * perPacket * at + 7 * c);
            rtp.ssrc = 0x0a000000u + c % 67;  // some calls share an SSRC (other ports)
            const test::Bytes packet = test::Ethernet(test::Ipv4Udp("10.0.0.1", static_cast<uint16_t>(5000 + c),
                                                                    "10.0.0.2", 6000, test::RtpBytes(rtp, payload)));
            if (c % 7 == 2 && p == 20) {
                held.push_back({p + 70, packet});
                continue;
            }
            pcap.Add(packet);
            if (c % 5 == 1 && p % 13 == 0)
                pcap.Add(packet);  // duplicate
        }
    }
    const std::string capture = Write("many.pcap", pcap.bytes());

    const recorder::DecodedCapture alone = DecodeOneByOne(capture);
    ASSERT_EQ(alone.streams.size(), kCalls);
    std::string expected;
    uint64_t lost = 0, late = 0, duplicates = 0, silence = 0;
    for (size_t i = 0; i < alone.streams.size(); ++i) {
        const timeline::RtpStream& s = alone.streams[i];
        expected += SsrcText(s.ssrc) + (s.number > 1 ? "-2" : "") + " " + DigestOf(alone.pcm[i]) + "\n";
        lost += s.stats.lostFrames;
        late += s.stats.late;
        duplicates += s.stats.duplicates;
        silence += s.stats.silenceFrames;
    }
    // The capture has what it is meant to have.
    EXPECT_GT(lost, 40u * 7);  // the long gaps alone
    EXPECT_GT(late, 0u);
    EXPECT_GT(duplicates, 0u);
    EXPECT_GT(silence, 0u);

    std::string reference;
    for (const std::string jobs : {"1", "2", "5"}) {
        SCOPED_TRACE("-j " + jobs);
        const std::string out = dir_ + "/j" + jobs;
        ASSERT_EQ(std::system(("mkdir '" + out + "'").c_str()), 0);
        const CommandResult r = Mervox("pcap --layout streams --json '" + capture + "' -o '" + out + "/' -j " + jobs);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        nlohmann::json j = nlohmann::json::parse(r.out);
        ASSERT_EQ(j["streams"].size(), kCalls);
        std::string files;
        for (nlohmann::json& s : j["streams"]) {
            const std::string path = s["output"];
            files +=
                path.substr(out.size() + 6, path.size() - out.size() - 10) + " " + DigestOf(WavSamples(path)) + "\n";
            s.erase("output");
        }
        EXPECT_EQ(files, expected);
        const std::string report = j.dump(1);
        if (reference.empty())
            reference = report;
        EXPECT_EQ(report, reference);
    }
    EXPECT_EQ(Mervox("pcap --layout streams '" + capture + "' -j 0").exitCode, 2);
}

TEST_F(PcapCommand, OutputIntoADirectory)
{
    ASSERT_EQ(std::system(("mkdir '" + dir_ + "/out'").c_str()), 0);
    // A name ending in '/', or an existing directory: the capture's name inside it.
    for (const std::string& o : {dir_ + "/out/", dir_ + "/out"}) {
        SCOPED_TRACE(o);
        const CommandResult r = Mervox("-q pcap --layout streams '" + kCall + "' -o '" + o + "'");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(WavSamples(dir_ + "/out/call-a-0x55667788.wav").size(), 3906u * 240);
        ASSERT_EQ(std::system(("rm '" + dir_ + "/out/'*.wav").c_str()), 0);
    }
    // Standard output cannot take several files: refused, nothing written.
    const std::string command = "cd '" + dir_ + "/out' && " + Cli() + " pcap --layout streams '" + kCall +
                                "' -o - 2>'" + dir_ + "/stderr' >/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(Slurp(dir_ + "/stderr").find("-o -"), std::string::npos);
    EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir_ + "/out')\"").c_str()), 0);
}

// -o DIR/ makes a missing DIR, as `decode -o DIR/` does; a prefix whose
// directory cannot be had fails before the capture is read (no report),
// not after decoding it.
TEST_F(PcapCommand, MissingDirectoryIsMadeOrRefusedBeforeDecoding)
{
    CommandResult r = Mervox("pcap --layout streams '" + kCall + "' -o '" + dir_ + "/new/'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(DigestOf(WavSamples(dir_ + "/new/call-a-0x11223344.wav")), "940a3468db599e8b");
    EXPECT_EQ(DigestOf(WavSamples(dir_ + "/new/call-a-0x55667788.wav")), "225576ec47b25607");
    // Made once: a second run into the existing directory is the same.
    EXPECT_EQ(Mervox("-q pcap --layout streams '" + kCall + "' -o '" + dir_ + "/new/'").exitCode, 0);

    Write("file", {1});
    const struct {
        std::string prefix, message;
    } refused[] = {
        {dir_ + "/missing/sub/", dir_ + "/missing/sub/: cannot create the directory: No such file or directory"},
        {dir_ + "/missing/call", dir_ + "/missing: cannot write the output files there: No such file or directory"},
        {dir_ + "/file/call", dir_ + "/file: cannot write the output files there: Not a directory"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.prefix);
        r = Mervox("pcap --layout streams '" + kCall + "' -o '" + c.prefix + "'");
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.err, "mervox: error: " + c.message + "\n");
        EXPECT_EQ(r.out, "");  // refused before reading: no report
    }
    EXPECT_EQ(std::system(("test ! -e '" + dir_ + "/missing'").c_str()), 0);
}

// Calls made in the test: `count` packets of one speech frame each (or of
// `payload` when given), at 30 ms steps.
std::vector<test::Bytes> CallPackets(size_t count, uint16_t sequence, uint32_t timestamp, uint32_t step = 240,
                                     const test::Bytes& payload = {})
{
    static const std::vector<test::Bytes> frames = test::StreamFrames("speech-a.63.bit");
    std::vector<test::Bytes> packets;
    for (size_t k = 0; k < count; ++k) {
        test::Rtp h;
        h.ssrc = 0x5eed;
        h.sequence = static_cast<uint16_t>(sequence + k);
        h.timestamp = timestamp + static_cast<uint32_t>(step * k);
        packets.push_back(test::RtpBytes(h, payload.empty() ? frames[k % frames.size()] : payload));
    }
    return packets;
}

test::Bytes CaptureOf(const std::vector<test::Bytes>& packets)
{
    test::PcapWriter w;
    for (const test::Bytes& p : packets)
        w.Add(test::Ethernet(test::Ipv4Udp("10.0.0.1", 4000, "10.0.0.2", 4002, p)));
    return w.bytes();
}

TEST_F(PcapCommand, PcapngWithALinkTypePerInterface)
{
    // Ethernet and raw IP interfaces in one section, Linux cooked in a second.
    const std::vector<test::Bytes> call = CallPackets(20, 1, 0);
    const test::Bytes sll = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
    test::PcapngWriter w;
    const uint32_t ethernet = w.Interface(1), raw = w.Interface(101);
    for (size_t k = 0; k < call.size(); ++k) {
        w.Add(ethernet, test::Ethernet(test::Ipv4Udp("10.0.0.1", 4000, "10.0.0.2", 4002, call[k])),
              1000000 + 30000 * k);
        w.Add(raw, test::Ipv4Udp("10.0.0.3", 4000, "10.0.0.4", 4002, call[k]), 1000000 + 30000 * k);
    }
    w.Section(false);
    const uint32_t cooked = w.Interface(113);
    for (size_t k = 0; k < call.size(); ++k) {
        test::Bytes packet = sll;
        const test::Bytes ip = test::Ipv4Udp("10.0.0.5", 4000, "10.0.0.6", 4002, call[k]);
        packet.insert(packet.end(), ip.begin(), ip.end());
        w.Add(cooked, packet, 2000000 + 30000 * k);
    }
    const CommandResult r =
        Mervox("pcap --layout streams --json '" + Write("links.pcapng", w.bytes()) + "' -o '" + dir_ + "/l'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["streams"].size(), 3u);
    EXPECT_EQ(j["link_types"], nlohmann::json::parse("[1, 101, 113]"));
    for (const char* suffix : {"", "-2", "-3"})
        EXPECT_EQ(WavSamples(dir_ + "/l-0x00005eed" + std::string(suffix) + ".wav").size(), 20u * 240);
}

TEST_F(PcapCommand, DnsBesideACallGivesOneFile)
{
    std::vector<test::Bytes> call = CallPackets(20, 1, 0);
    test::PcapWriter w;
    for (uint16_t k = 0; k < 400; ++k) {
        // A DNS query whose identifier reads as RTP version 2, payload type 4,
        // and whose question is 24 bytes long with a first byte of type 0.
        test::Bytes dns = {static_cast<uint8_t>(0x80 | (k & 0x0f)),
                           0x04,
                           0x01,
                           0x00,
                           0,
                           1,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           12,
                           'r',
                           'e',
                           's',
                           'o',
                           'l',
                           'v',
                           'e',
                           'r',
                           't',
                           'e',
                           's',
                           't',
                           3,
                           'o',
                           'r',
                           'g',
                           0,
                           0,
                           1,
                           0,
                           1,
                           0,
                           0};
        w.Add(test::Ethernet(test::Ipv4Udp("10.0.0.9", static_cast<uint16_t>(50000 + k % 4), "10.0.0.53", 53, dns)));
        if (k % 20 == 0)
            w.Add(test::Ethernet(test::Ipv4Udp("10.0.0.1", 4000, "10.0.0.2", 4002, call[k / 20])));
    }
    const CommandResult r =
        Mervox("-q pcap --layout streams '" + Write("dns.pcap", w.bytes()) + "' -o '" + dir_ + "/out/'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(WavSamples(dir_ + "/out/dns-0x00005eed.wav").size(), 20u * 240);
    EXPECT_EQ(std::system(("test \"$(ls '" + dir_ + "/out' | wc -l)\" = 1").c_str()), 0);
}

TEST_F(PcapCommand, RenumberedSenderKeepsTheWholeCall)
{
    // Sequence numbers 100-149 then 40050-40099, timestamps running on; one
    // packet of the first run straggles in after the second began.
    std::vector<test::Bytes> packets = CallPackets(50, 100, 0);
    const std::vector<test::Bytes> second = CallPackets(50, 40050, 50 * 240);
    packets.insert(packets.end(), second.begin(), second.end());
    const test::Bytes straggler = packets[48];
    packets.erase(packets.begin() + 48);
    packets.insert(packets.begin() + 55, straggler);
    const CommandResult r = Mervox("pcap --layout streams --json '" + Write("renumbered.pcap", CaptureOf(packets)) +
                                   "' -o '" + dir_ + "/r'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json s = nlohmann::json::parse(r.out)["streams"][0];
    EXPECT_EQ(s["frames"], 99);
    EXPECT_EQ(s["late"], 1);
    EXPECT_EQ(s["overlapping_frames"], 0);
    EXPECT_EQ(s["sequence_restarts"], 1);
    EXPECT_EQ(WavSamples(dir_ + "/r-0x00005eed.wav").size(), 100u * 240);
    // The text report says what was dropped.
    const CommandResult text = Mervox("pcap --layout streams '" + dir_ + "/renumbered.pcap' -o '" + dir_ + "/r'");
    EXPECT_NE(text.out.find("late packets:   1"), std::string::npos) << text.out;
}

TEST_F(PcapCommand, StrayTimestampShiftsNothing)
{
    std::vector<test::Bytes> packets = CallPackets(3000, 7, 1000000);
    packets[1500] = CallPackets(1, 7 + 1500, 1000000 + 1500 * 240 + 30 * 8000)[0];  // 30 s ahead
    const CommandResult r =
        Mervox("pcap --layout streams --json '" + Write("stray.pcap", CaptureOf(packets)) + "' -o '" + dir_ + "/s'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json s = nlohmann::json::parse(r.out)["streams"][0];
    EXPECT_EQ(s["frames"], 3000);
    EXPECT_EQ(s["lost_frames"], 0);
    EXPECT_EQ(s["overlapping_frames"], 0);
    EXPECT_EQ(s["stray_timestamps"], 1);
}

TEST_F(PcapCommand, ConcealmentIsBoundedUnlessAskedFor)
{
    // Untransmitted one-byte frames, 59.97 s apart, captured within seconds.
    const test::Bytes untransmitted = {0x03};
    const std::string many = Write("many.pcap", CaptureOf(CallPackets(300, 1, 0, 1999 * 240, untransmitted)));
    CommandResult r = Mervox("pcap --layout streams --json '" + many + "' -o '" + dir_ + "/m'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("--allow-long-gaps"), std::string::npos) << r.err;
    nlohmann::json s = nlohmann::json::parse(r.out)["streams"][0];
    EXPECT_EQ(s["lost_frames"].get<uint64_t>() + s["unfilled_frames"].get<uint64_t>(), 299u * 1998);
    EXPECT_LE(WavSamples(dir_ + "/m-0x00005eed.wav").size(), (300u + 2000) * 240);

    const std::string few = Write("few.pcap", CaptureOf(CallPackets(20, 1, 0, 1999 * 240, untransmitted)));
    r = Mervox("pcap --layout streams --allow-long-gaps --json '" + few + "' -o '" + dir_ + "/f'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    s = nlohmann::json::parse(r.out)["streams"][0];
    EXPECT_EQ(s["lost_frames"], 19 * 1998);
    EXPECT_EQ(s["unfilled_frames"], 0);
    EXPECT_EQ(WavSamples(dir_ + "/f-0x00005eed.wav").size(), (20u + 19 * 1998) * 240);
}

TEST_F(PcapCommand, ManyTinyStreamsCannotBuyHoursOfConcealment)
{
    // 100 streams of 3 speech packets 59.97 s of RTP time apart, captured
    // 20 ms apart: 28 KB that once gave 100 minutes of WAV files.
    test::Bytes capture = test::PcapFileHeader(1);
    uint64_t micros = uint64_t{1700000000} * 1000000;
    test::AppendStreams(capture, micros, {0x1000, 100, 3, 1999, 20000});
    const CommandResult r =
        Mervox("pcap --layout streams --json '" + Write("tiny.pcap", capture) + "' -o '" + dir_ + "/t'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["streams"].size(), 100u);
    uint64_t samples = 0, bound = 0;
    for (const nlohmann::json& s : j["streams"]) {
        const auto frames = s["frames"].get<uint64_t>();
        const auto real = s["speech_frames"].get<uint64_t>();  // no silence frames here
        EXPECT_EQ(s["lost_frames"], 20);                       // ten per real frame, no allowance
        const size_t wav = WavSamples(s["output"].get<std::string>()).size();
        EXPECT_EQ(wav, (frames + s["lost_frames"].get<uint64_t>()) * 240);
        samples += wav;
        bound += frames + timeline::ConcealmentLimit(real, CaptureOptions().timeline);
    }
    // Each stream its frames and what they pay for: 69 s in all.
    EXPECT_LE(samples, bound * 240);
    EXPECT_EQ(samples, 100u * 23 * 240);
}

TEST_F(PcapCommand, FakeStreamsCannotTakeTheRealCallsFiles)
{
    // 2000 streams of 3 packets, all live at once, then a real call: more
    // streams than the 256 files the shell lets the command open.
    test::Bytes capture = test::PcapFileHeader(1);
    uint64_t micros = uint64_t{1700000000} * 1000000;
    test::AppendStreams(capture, micros, {0x100000, 2000, 3, 1, 100});
    test::AppendStreams(capture, micros, {0xca11, 1, 300, 1, 30000});
    // The files on a memory file system where there is one: 2001 of them
    // are each synced to disk when written.
    std::string out = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : dir_) + "/mervox-pcap-XXXXXX";
    ASSERT_NE(mkdtemp(out.data()), nullptr);
    const std::unique_ptr<const std::string, void (*)(const std::string*)> removed(
        &out, [](const std::string* d) { std::system(("rm -rf '" + *d + "'").c_str()); });
    const CommandResult r = Mervox(
        "pcap --layout streams --json '" + Write("fake.pcap", capture) + "' -o '" + out + "/f'", "ulimit -n 256 && ");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The call is its stream decoded alone.
    const std::vector<test::Bytes> frames = test::StreamFrames("speech-a.63.bit");
    std::vector<uint8_t> call;
    for (size_t k = 0; k < 300; ++k)
        call.insert(call.end(), frames[k].begin(), frames[k].end());
    const std::vector<int16_t> expected = mervox::test::DecodeWithLegacyApi(call);
    EXPECT_EQ(DigestOf(WavSamples(out + "/f-0x0000ca11.wav")), DigestOf(expected));
    // Every other stream is written too.
    const nlohmann::json j = nlohmann::json::parse(r.out.empty() ? "{}" : r.out);
    ASSERT_EQ(j["streams"].size(), 2001u);
    for (const nlohmann::json& stream : j["streams"]) {
        EXPECT_EQ(stream["written"], true) << stream["output"];
        EXPECT_EQ(WavSamples(stream["output"].get<std::string>()).size(), stream["frames"].get<size_t>() * 240);
    }
}

TEST_F(PcapCommand, JsonReport)
{
    const CommandResult r = Mervox("pcap --layout streams --json '" + kCall + "' -o '" + dir_ + "/c'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["records"], 5757);
    EXPECT_EQ(j["truncated"], false);
    EXPECT_EQ(j["skipped"]["udp_not_rtp"], 40);
    ASSERT_EQ(j["streams"].size(), 2u);
    const nlohmann::json& a = j["streams"][0];
    EXPECT_EQ(a["ssrc"], "0x11223344");
    EXPECT_EQ(a["source"]["address"], "127.0.0.1");
    EXPECT_EQ(a["source"]["port"], 30000);
    EXPECT_EQ(a["destination"]["port"], 40000);
    EXPECT_EQ(a["payload_type"], 4);
    EXPECT_EQ(a["packets"], 3791);
    EXPECT_EQ(a["duplicates"], 19);
    EXPECT_EQ(a["reordered"], 42);
    EXPECT_EQ(a["frames"], 3772);
    EXPECT_EQ(a["lost_frames"], 134);
    EXPECT_EQ(a["rate_switches"], 0);
    EXPECT_NEAR(a["duration_seconds"].get<double>(), 117.18, 1e-9);
    EXPECT_EQ(a["output"], dir_ + "/c-0x11223344.wav");
    const nlohmann::json& b = j["streams"][1];
    EXPECT_EQ(b["ssrc"], "0x55667788");
    EXPECT_EQ(b["packets"], 1926);
    EXPECT_EQ(b["duplicates"], 6);
    EXPECT_EQ(b["lost_frames"], 66);
    EXPECT_EQ(b["frames"], 3840);
    EXPECT_EQ(WavSamples(b["output"]).size(), 3906u * 240);
}

TEST_F(PcapCommand, JsonReportOfAFileNameThatIsNotUtf8)
{
    const std::string copy = Write("caf\xe9.pcapng", mervox::test::ReadFileBytes(kCall));
    const CommandResult r = Mervox("pcap --layout streams --json '" + copy + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["capture"], dir_ + "/caf\xef\xbf\xbd.pcapng");  // U+FFFD in place of the byte
    ASSERT_EQ(j["streams"].size(), 2u);
    EXPECT_EQ(WavSamples(dir_ + "/caf\xe9-0x11223344.wav").size(), 3906u * 240);
}

TEST_F(PcapCommand, DefaultPrefixIsTheCaptureName)
{
    const std::string copy = Write("meeting.pcapng", mervox::test::ReadFileBytes(kCall));
    const CommandResult r = Mervox("-q pcap --layout streams '" + copy + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");  // --quiet
    EXPECT_EQ(WavSamples(dir_ + "/meeting-0x55667788.wav").size(), 3906u * 240);

    // From stdin the files are named after "capture", in the working directory.
    const std::string fromStdin = "cd '" + dir_ + "' && " + Cli() + " -q pcap --layout streams - < '" + kCall + "'";
    ASSERT_EQ(std::system(fromStdin.c_str()), 0);
    EXPECT_EQ(WavSamples(dir_ + "/capture-0x55667788.wav").size(), 3906u * 240);
}

TEST_F(PcapCommand, RejectsWhatIsNotACapture)
{
    const std::string text = "not a capture at all\n";
    const std::string path = Write("notes.pcap", test::Bytes(text.begin(), text.end()));
    CommandResult r = Mervox("pcap --layout streams '" + path + "' -o '" + dir_ + "/x'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not a pcap or pcapng capture"), std::string::npos) << r.err;
    r = Mervox("pcap --layout streams '" + dir_ + "/missing.pcap'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    r = Mervox("pcap --layout streams '" + Write("empty.pcap", {}) + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("byte 0: empty input, not a capture"), std::string::npos) << r.err;
    r = Mervox("pcap --layout streams '" + dir_ + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("byte 0: read failed"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(PcapCommand, SaysSoWhenThereIsNoG7231Stream)
{
    test::PcapWriter w;
    test::Rtp h;
    h.payloadType = 0;  // G.711
    w.Add(test::Ethernet(test::Ipv4Udp("10.0.0.1", 4000, "10.0.0.2", 4002, test::RtpBytes(h, test::Bytes(160, 0xff)))));
    w.Add(test::Ethernet(test::Ipv4Udp("10.0.0.1", 53, "10.0.0.2", 53, {1, 2, 3})));
    const CommandResult r =
        Mervox("pcap --layout streams --json '" + Write("g711.pcap", w.bytes()) + "' -o '" + dir_ + "/x'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no G.723.1 RTP stream"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--payload-type"), std::string::npos) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["streams"].size(), 0u);
}

TEST_F(PcapCommand, DynamicPayloadType)
{
    const std::vector<test::Bytes> frames = test::StreamFrames("speech-a.63.bit");
    test::PcapWriter w;
    test::Bytes stream;
    for (uint16_t k = 0; k < 20; ++k) {
        test::Rtp h;
        h.payloadType = 97;
        h.ssrc = 0xcafe;
        h.sequence = k;
        h.timestamp = 240u * k;
        w.Add(test::Ethernet(test::Ipv4Udp("10.0.0.1", 4000, "10.0.0.2", 4002, test::RtpBytes(h, frames[k]))));
        stream.insert(stream.end(), frames[k].begin(), frames[k].end());
    }
    const std::string capture = Write("dyn.pcap", w.bytes());
    EXPECT_EQ(Mervox("pcap --layout streams '" + capture + "' -o '" + dir_ + "/d'").exitCode, 1);
    const CommandResult r = Mervox("pcap --layout streams --payload-type 97 '" + capture + "' -o '" + dir_ + "/d'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(WavSamples(dir_ + "/d-0x0000cafe.wav"), mervox::test::DecodeWithLegacyApi(stream));
    EXPECT_EQ(Mervox("pcap --layout streams --payload-type 128 '" + capture + "'").exitCode, 2);
}

TEST_F(PcapCommand, TruncatedCaptureWarnsAndDecodesWhatWasRead)
{
    std::vector<uint8_t> bytes = mervox::test::ReadFileBytes(kCall);
    bytes.resize(bytes.size() / 3 + 5);
    const CommandResult r =
        Mervox("pcap --layout streams --json '" + Write("cut.pcapng", bytes) + "' -o '" + dir_ + "/cut'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("warning"), std::string::npos);
    EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["truncated"], true);
    ASSERT_EQ(j["streams"].size(), 2u);
    const uint64_t frames = j["streams"][0]["frames"].get<uint64_t>() + j["streams"][0]["lost_frames"].get<uint64_t>();
    EXPECT_GT(frames, 500u);
    EXPECT_LT(frames, 3906u);
    EXPECT_EQ(WavSamples(dir_ + "/cut-0x11223344.wav").size(), frames * 240);
}

// The corpus call's records as classic pcap: the whole, and pieces of it
// (each a range of records; an overlap spreads its records over two pieces
// in turn, as two capture points' files would hold them).
class SplitCapture : public PcapCommand {
protected:
    struct Record {
        test::Bytes data;
        int64_t timeNs;
    };

    void SetUp() override
    {
        PcapCommand::SetUp();
        std::string error;
        const auto reader = records::RecordReader::Open(std::fopen(kCall.c_str(), "rb"), &error);
        ASSERT_TRUE(reader) << error;
        records::CaptureRecord r;
        while (reader->Next(r) == records::RecordResult::kRecord)
            records_.push_back({test::Bytes(r.data.data, r.data.data + r.data.size), r.timeNs});
        ASSERT_GT(records_.size(), 5000u);
    }

    // Records [begin, end) of the call, but for those `skip` says.
    std::string Piece(const std::string& name, size_t begin, size_t end,
                      const std::function<bool(size_t)>& skip = nullptr) const
    {
        test::Bytes bytes = test::PcapFileHeader(1);
        for (size_t k = begin; k < end; ++k) {
            if (skip && skip(k))
                continue;
            const int64_t t = records_[k].timeNs;
            const test::Bytes record = test::PcapRecord(records_[k].data, static_cast<uint32_t>(t / 1000000000),
                                                        static_cast<uint32_t>(t % 1000000000 / 1000));
            bytes.insert(bytes.end(), record.begin(), record.end());
        }
        return Write(name, bytes);
    }

    // `mervox pcap --json` on `captures` into a folder of its own: the report
    // without what names the inputs and outputs, and the WAV files by name.
    std::pair<nlohmann::json, std::map<std::string, std::string>> Run(const std::string& folder,
                                                                      const std::string& captures,
                                                                      const std::string& shell = "")
    {
        const std::string out = dir_ + "/" + folder;
        EXPECT_EQ(std::system(("mkdir '" + out + "'").c_str()), 0);
        const CommandResult r = Mervox("pcap --layout streams --json " + captures + " -o '" + out + "/call'", shell);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        nlohmann::json j = nlohmann::json::parse(r.out);
        j.erase("capture");
        j.erase("files");
        for (auto& s : j["streams"]) {
            EXPECT_EQ(s["output"].get<std::string>().rfind(out + "/call-", 0), 0u) << s["output"];
            s.erase("output");
        }
        std::map<std::string, std::string> files;
        const nlohmann::json streams = nlohmann::json::parse(r.out)["streams"];
        for (const auto& s : streams) {
            const std::string path = s["output"];
            files[path.substr(out.size())] = Slurp(path);
        }
        return {j, files};
    }

    std::vector<Record> records_;
};

TEST_F(SplitCapture, PiecesInAnyOrderGiveTheWholeCapturesStreams)
{
    const size_t n = records_.size();
    const std::string whole = Piece("whole.pcap", 0, n);
    const auto [report, files] = Run("whole", "'" + whole + "'");
    ASSERT_EQ(report["streams"].size(), 2u);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files.begin()->second.size(), 44 + 3906u * 240 * 2);  // the first call's 3906 frames

    const std::string a = Piece("a.pcap", 0, n / 2), b = Piece("b.pcap", n / 2, n);
    // In three, each overlapping the next by 300 records (the overlap's odd
    // records in the earlier piece, its even ones in the later), named out
    // of order.
    const size_t third = n / 3;
    const auto inOverlap = [&](size_t k) {
        return (k + 150 >= third && k < third + 150) || (k + 150 >= 2 * third && k < 2 * third + 150);
    };
    const std::string p1 = Piece("p1.pcap", 0, third + 150, [&](size_t k) { return inOverlap(k) && k % 2 == 0; });
    const std::string p2 = Piece("p2.pcap", third - 150, 2 * third + 150,
                                 [&](size_t k) { return inOverlap(k) && (k < third + 150 ? k % 2 == 1 : k % 2 == 0); });
    const std::string p3 = Piece("p3.pcap", 2 * third - 150, n, [&](size_t k) { return inOverlap(k) && k % 2 == 1; });
    const struct {
        const char* folder;
        std::string captures;
    } cases[] = {
        {"two", "'" + a + "' '" + b + "'"},
        {"two-reversed", "'" + b + "' '" + a + "'"},
        {"three", "'" + p3 + "' '" + p1 + "' '" + p2 + "'"},
        {"one-from-stdin", "'" + b + "' - < '" + a + "'"},  // read once, never opened again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const auto [split, splitFiles] = Run(c.folder, c.captures);
        EXPECT_EQ(split, report);
        EXPECT_TRUE(splitFiles == files);
    }
}

TEST_F(SplitCapture, NamesEachCaptureAndWarnsOfOneCutShort)
{
    const size_t n = records_.size();
    const std::string a = Piece("first.pcap", 0, n / 2), b = Piece("second.pcap", n / 2, n);
    // One-file output stays as it was: "capture" is the name.
    CommandResult r = Mervox("pcap --layout streams --json '" + a + "' -o '" + dir_ + "/one'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["capture"], a);
    EXPECT_FALSE(j.contains("files"));

    // Several: an array, each file's records, the prefix from the first.
    r = Mervox("pcap --layout streams --json '" + b + "' '" + a + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["capture"], nlohmann::json::array({b, a}));
    ASSERT_EQ(j["files"].size(), 2u);
    EXPECT_EQ(j["files"][0]["records"].get<size_t>() + j["files"][1]["records"].get<size_t>(), n);
    EXPECT_EQ(j["records"], n);
    EXPECT_EQ(j["streams"][0]["output"], dir_ + "/second-0x11223344.wav");

    // The second one cut inside a record: a warning naming it, and every
    // record before the cut of both files read.
    std::string cut = Slurp(b);
    cut.resize(cut.size() - 7);
    const std::string cutPath = Write("cut.pcap", test::Bytes(cut.begin(), cut.end()));
    r = Mervox("pcap --layout streams --json '" + a + "' '" + cutPath + "' -o '" + dir_ + "/c'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("warning: " + cutPath + ": capture cut short"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(a), std::string::npos) << r.err;
    j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(j["records"], n - 1);
    EXPECT_EQ(j["files"][0]["truncated"], false);
    EXPECT_EQ(j["files"][1]["truncated"], true);
    EXPECT_EQ(j["streams"].size(), 2u);

    // One that is not a capture: an error naming it, nothing written.
    const std::string text = Write("notes.pcap", {'n', 'o', 't', ' ', 'a', ' ', 'c', 'a', 'p', 't', 'u', 'r', 'e'});
    r = Mervox("pcap --layout streams '" + a + "' '" + text + "' -o '" + dir_ + "/x'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("error: " + text + ": not a pcap or pcapng capture"), std::string::npos) << r.err;
    EXPECT_EQ(std::system(("ls '" + dir_ + "'/x-* >/dev/null 2>&1").c_str()) == 0, false);
}

// A ring buffer of 1,500 small files under a limit of 256 open files: each
// is opened when the reading reaches it, and the call comes out as from one
// file. 1,500 files that all overlap in time cannot be read so: the error
// says what ran out, not that a file is no capture.
TEST_F(SplitCapture, ManyFilesUnderALowLimitOnOpenFiles)
{
    const size_t n = records_.size(), count = 1500;
    const auto [report, files] = Run("whole", "'" + Piece("whole.pcap", 0, n) + "'");
    std::string ring, overlapping;
    for (size_t f = 0; f < count; ++f) {
        const std::string number = std::to_string(10000 + f).substr(1);
        Piece("r" + number + ".pcap", f * n / count, (f + 1) * n / count);
        // The call's first record, then a piece of its own.
        Piece("o" + number + ".pcap", 0, (f + 1) * n / count, [&](size_t k) { return k > 0 && k < f * n / count; });
        ring += " r" + number + ".pcap";
        overlapping += " o" + number + ".pcap";
    }
    const std::string limited = "cd '" + dir_ + "' && ulimit -n 256 && ";
    const auto [split, splitFiles] = Run("ring", ring, limited);
    EXPECT_EQ(split, report);
    EXPECT_TRUE(splitFiles == files);

    const CommandResult r = Mervox("pcap --layout streams" + overlapping + " -o '" + dir_ + "/o'", limited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(": cannot open: " + std::string(std::strerror(EMFILE))), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not a pcap"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace mervox::media::capture
