// `mervox pcap` holds what the streams active at once need, not the capture:
// a capture of hundreds of MB, generated here and fed through a pipe, is
// decoded with a peak memory far below its size. Each call packet comes
// several times (duplicates cost the reader nothing to drop, and keep the
// decoded output small beside the input), between datagrams of other traffic.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "capture_builder.h"

#if defined(__SANITIZE_ADDRESS__)
#define MERVOX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MERVOX_SANITIZED 1
#endif
#endif

namespace mervox::capture {
namespace {

// A sanitizer build is several times slower and keeps freed memory in
// quarantine (limited here): a smaller capture, the same bound on memory.
#ifdef MERVOX_SANITIZED
constexpr size_t kInputBytes = size_t{48} << 20;
#else
constexpr size_t kInputBytes = size_t{256} << 20;
#endif
constexpr long kMaxPeakKb = 40 * 1024;
constexpr int kCopies = 6;

bool WriteAll(int fd, const test::Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

TEST(PcapMemory, PeakMemoryDoesNotGrowWithTheCapture)
{
    const std::string dir = ::testing::TempDir() + "mervox-pcap-memory";
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=4").c_str(), 1);
        const std::string prefix = dir + "/big";
        const char* other = std::getenv("MERVOX_TEST_CLI");  // another build of the command
        execl(other && *other ? other : MERVOX_CLI_PATH, "mervox", "-q", "pcap", "-", "-o", prefix.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);

    const std::vector<test::Bytes> frames = test::StreamFrames("speech-a.63.bit");
    const test::Bytes other = test::Ethernet(test::Ipv4Udp("192.0.2.7", 9, "192.0.2.8", 9, test::Bytes(600, 0x55)));
    size_t written = 0, distinct = 0;
    bool ok = WriteAll(in[1], test::PcapFileHeader(1));
    test::Bytes chunk;
    while (ok && written < kInputBytes) {
        test::Rtp h;
        h.ssrc = 0xb16;
        h.sequence = static_cast<uint16_t>(distinct);
        h.timestamp = static_cast<uint32_t>(240 * distinct);
        const test::Bytes packet =
            test::Ethernet(test::Ipv4Udp("10.1.1.1", 5004, "10.1.1.2", 5006, test::RtpBytes(h, frames[distinct % frames.size()])));
        const auto seconds = static_cast<uint32_t>(1700000000 + distinct * 3 / 100);
        const auto micros = static_cast<uint32_t>(distinct * 30000 % 1000000);
        for (int copy = 0; copy < kCopies; ++copy) {
            const test::Bytes record = test::PcapRecord(packet, seconds, micros);
            chunk.insert(chunk.end(), record.begin(), record.end());
        }
        const test::Bytes filler = test::PcapRecord(other, seconds, micros);
        chunk.insert(chunk.end(), filler.begin(), filler.end());
        ++distinct;
        if (chunk.size() >= (1u << 20)) {
            ok = WriteAll(in[1], chunk);
            written += chunk.size();
            chunk.clear();
        }
    }
    ok = ok && WriteAll(in[1], chunk);
    close(in[1]);
    int status = 0;
    rusage usage = {};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_TRUE(ok) << "the command stopped reading";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LT(usage.ru_maxrss, kMaxPeakKb) << "peak RSS in kB, for " << written / (1 << 20) << " MB of capture";
    std::printf("capture %zu MB, peak RSS %ld kB\n", written >> 20, usage.ru_maxrss);

    // Every distinct frame decoded once.
    struct stat wav = {};
    ASSERT_EQ(stat((dir + "/big-0x00000b16.wav").c_str(), &wav), 0);
    EXPECT_EQ(static_cast<size_t>(wav.st_size), 44 + distinct * 480);
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::capture
