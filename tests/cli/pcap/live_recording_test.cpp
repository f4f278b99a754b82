// `mervox pcap -` as a recorder of live traffic: a capture fed through a
// pipe at its own pace has each call written, with its JSON line, as the
// call ends, while the capture goes on.
#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture_builder.h"
#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::test {
namespace {

using media::capture::test::Bytes;

// One record of the capture, at `seconds` from its start.
struct TimedPacket {
    double seconds;
    Bytes packet;
};

// A SIP call from alice to bob: 1 s of speech both ways, then BYE at 1 s;
// and an unsignalled stream between two other hosts for `seconds`.
std::vector<TimedPacket> CallThenStream(double seconds)
{
    namespace cb = media::capture::test;
    static const std::vector<Bytes> frames = cb::StreamFrames("speech-a.63.bit");
    const std::string callId = "Call-ID: live-1@example.com";
    const std::string from = "From: <sip:alice@example.com>;tag=a1";
    const std::string to = "To: <sip:bob@example.com>";
    const auto sdp = [](const std::string& address, int port) {
        return "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=-\r\nc=IN IP4 " + address + "\r\nt=0 0\r\nm=audio " +
               std::to_string(port) + " RTP/AVP 4\r\na=rtpmap:4 G723/8000\r\n";
    };
    std::vector<TimedPacket> out;
    const auto sip = [&](double t, bool fromAlice, const std::string& message) {
        out.push_back(
            {t, cb::Ethernet(fromAlice ? cb::Ipv4Udp("10.0.0.1", 5060, "10.0.0.2", 5060, cb::Text(message))
                                       : cb::Ipv4Udp("10.0.0.2", 5060, "10.0.0.1", 5060, cb::Text(message)))});
    };
    sip(0, true,
        cb::SipMessage("INVITE sip:bob@10.0.0.2 SIP/2.0", {from, to, callId, "CSeq: 1 INVITE"}, sdp("10.0.0.1", 4000)));
    sip(0.01, false,
        cb::SipMessage("SIP/2.0 200 OK", {from, to + ";tag=b1", callId, "CSeq: 1 INVITE"}, sdp("10.0.0.2", 5000)));
    sip(0.02, true, cb::SipMessage("ACK sip:bob@10.0.0.2 SIP/2.0", {from, to + ";tag=b1", callId, "CSeq: 1 ACK"}));
    for (uint32_t k = 0; k < 33; ++k) {
        const double t = 0.03 + 0.03 * k;
        const auto sequence = static_cast<uint16_t>(k);
        out.push_back({t, cb::Ethernet(cb::Ipv4Udp("10.0.0.1", 4000, "10.0.0.2", 5000,
                                                   cb::RtpPacket(0xa11ce, sequence, 240 * k, 4, frames[k])))});
        out.push_back({t, cb::Ethernet(cb::Ipv4Udp("10.0.0.2", 5000, "10.0.0.1", 4000,
                                                   cb::RtpPacket(0xb0b, sequence, 240 * k, 4, frames[40 + k])))});
    }
    sip(1.0, true, cb::SipMessage("BYE sip:bob@10.0.0.2 SIP/2.0", {from, to + ";tag=b1", callId, "CSeq: 2 BYE"}));
    sip(1.01, false, cb::SipMessage("SIP/2.0 200 OK", {from, to + ";tag=b1", callId, "CSeq: 2 BYE"}));
    for (uint32_t k = 0; 0.03 * k < seconds; ++k)
        out.push_back({0.03 * k, cb::Ethernet(cb::Ipv4Udp("10.0.1.1", 6000, "10.0.1.2", 7000,
                                                          cb::RtpPacket(0x5eed, static_cast<uint16_t>(k), 240 * k, 4,
                                                                        frames[k % frames.size()])))});
    std::stable_sort(out.begin(), out.end(),
                     [](const TimedPacket& a, const TimedPacket& b) { return a.seconds < b.seconds; });
    return out;
}

std::vector<nlohmann::json> Lines(const std::string& path)
{
    std::vector<nlohmann::json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Waits up to `seconds` for `done`.
bool Within(double seconds, const std::function<bool()>& done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class LiveRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = ::testing::TempDir() + "mervox-live-" + info->name() + "-" + std::to_string(getpid());
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
        fifo_ = dir_ + "/capture.pipe";
        ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Runs `mervox pcap -` on the pipe in the background; Feed() writes to
    // it. With `signal`, sends it once Signal() is called.
    void Start(const std::string& options, int signal = 0)
    {
        recorder_ = std::thread([this, options, signal] {
            run_ = RunShell(
                "exec " + CliCommand() + " pcap - -o '" + dir_ + "/calls/' --json-lines '" + dir_ + "/calls.jsonl' " +
                    options + " <'" + fifo_ + "' 2>'" + dir_ + "/stderr'",
                signal, [this] { return signalNow_.load(); }, 120);
        });
        pipe_ = std::fopen(fifo_.c_str(), "wb");
        ASSERT_NE(pipe_, nullptr);
        Write(media::capture::test::PcapFileHeader(1));
    }
    // The records from `from` on, up to (not including) capture time `until`,
    // each when its time has come.
    size_t Feed(const std::vector<TimedPacket>& packets, size_t from, double until)
    {
        for (; from < packets.size() && packets[from].seconds < until; ++from) {
            const double t = packets[from].seconds;
            std::this_thread::sleep_until(start_ + std::chrono::duration<double>(t));
            const auto micros = static_cast<uint64_t>(t * 1e6 + 0.5);
            Write(media::capture::test::PcapRecord(packets[from].packet,
                                                   static_cast<uint32_t>(1767225600 + micros / 1000000),
                                                   static_cast<uint32_t>(micros % 1000000)));
        }
        return from;
    }
    ChildRun Stop()
    {
        std::fclose(pipe_);
        recorder_.join();
        return run_;
    }
    void Write(const Bytes& bytes)
    {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), pipe_), bytes.size());
        std::fflush(pipe_);
    }

    std::string dir_;
    std::string fifo_;
    std::FILE* pipe_ = nullptr;
    std::thread recorder_;
    std::atomic<bool> signalNow_{false};
    ChildRun run_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The SIP call ends at 1 s and is written 5 s later (its grace for trailing
// media), while the other stream goes on: its file and JSON line are there
// before the capture ends.
TEST_F(LiveRecording, ACallIsWrittenWhileTheCaptureGoesOn)
{
    const std::vector<TimedPacket> packets = CallThenStream(8);
    Start("-q");
    start_ = std::chrono::steady_clock::now();
    size_t next = Feed(packets, 0, 6.5);
    ASSERT_TRUE(Within(5, [&] { return Lines(dir_ + "/calls.jsonl").size() == 1; })) << Slurp(dir_ + "/stderr");
    const nlohmann::json first = Lines(dir_ + "/calls.jsonl")[0];
    EXPECT_EQ(first["call_id"], "live-1@example.com");
    EXPECT_EQ(first["closed"], "ended");
    EXPECT_EQ(first["written"], true);
    EXPECT_EQ(first["streams"].size(), 2u);
    EXPECT_TRUE(FileExists(first["output"].get<std::string>()));
    // Still the one line: the other call goes on.
    next = Feed(packets, next, 1e9);
    const ChildRun run = Stop();
    EXPECT_EQ(run.status, 0) << Slurp(dir_ + "/stderr");
    const std::vector<nlohmann::json> lines = Lines(dir_ + "/calls.jsonl");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["signalled"], false);
    EXPECT_EQ(lines[1]["closed"], "capture_end");
}

// SIGTERM mid-call, the capture still open: both calls are written up to
// the stop, as complete files, their JSON lines saying so; the status is 0.
TEST_F(LiveRecording, AStopWritesTheCallsInProgress)
{
    const std::vector<TimedPacket> packets = CallThenStream(60);
    Start("-q", SIGTERM);
    start_ = std::chrono::steady_clock::now();
    Feed(packets, 0, 3.0);
    signalNow_ = true;
    ASSERT_TRUE(Within(10, [&] { return Lines(dir_ + "/calls.jsonl").size() == 2; })) << Slurp(dir_ + "/stderr");
    const ChildRun run = Stop();
    EXPECT_EQ(run.status, 0) << Slurp(dir_ + "/stderr");
    for (const nlohmann::json& line : Lines(dir_ + "/calls.jsonl")) {
        EXPECT_EQ(line["closed"], "stopped");
        EXPECT_EQ(line["written"], true);
        const WavFile wav = ParseWav(ReadFileBytes(line["output"].get<std::string>()));
        EXPECT_EQ(wav.channels, line["signalled"] == true ? 2 : 1);
    }
    const nlohmann::json stream = Lines(dir_ + "/calls.jsonl")[1];
    EXPECT_NEAR(stream["recording_seconds"].get<double>(), 3.0, 0.1);  // up to the stop
    EXPECT_TRUE(ListDir(dir_ + "/calls").size() == 2u);                // no scratch file left
}

}  // namespace
}  // namespace mervox::test
