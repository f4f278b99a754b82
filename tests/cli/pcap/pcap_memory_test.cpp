// `mervox pcap` holds what the streams active at once need, not the capture:
// a capture of hundreds of MB, generated here and fed through a pipe, is
// decoded with a peak memory far below its size. Each call packet comes
// several times (duplicates cost the reader nothing to drop, and keep the
// decoded output small beside the input), between datagrams of other traffic.
// Nor do thousands of short streams live at once take the files and memory
// that a real call after them needs.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

#ifdef MERVOX_SANITIZED
// This process's own quarantine too: the child's peak memory includes the
// pages it shared with this process when it was forked.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=4"; }
#endif

namespace mervox::media::capture {
namespace {

// A sanitizer build is several times slower and its allocator keeps more:
// a smaller capture, and the test is that memory does not grow with it.
#ifdef MERVOX_SANITIZED
constexpr size_t kInputBytes = size_t{32} << 20;
constexpr bool kSanitized = true;
constexpr long kMaxGrowthKb = 16 * 1024;  // from a quarter of the capture to all of it
#else
constexpr size_t kInputBytes = size_t{256} << 20;
constexpr bool kSanitized = false;
constexpr long kMaxGrowthKb = 8 * 1024;
#endif
constexpr long kMaxPeakKb = 40 * 1024;  // without sanitizers, for 256 MB of capture
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

struct Decoded {
    long peakKb = 0;
    size_t distinctFrames = 0;
    size_t wavBytes = 0;
};

// Runs `mervox pcap -` on a generated capture of about `inputBytes`.
Decoded DecodeGenerated(size_t inputBytes, const std::string& dir)
{
    Decoded run;
    int in[2];
    EXPECT_EQ(pipe(in), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        // ASan keeps freed memory in quarantine (256 MB by default).
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=4").c_str(), 1);
        const std::string prefix = dir + "/big";
        const char* other = std::getenv("MERVOX_TEST_CLI");  // another build of the command
        execl(other && *other ? other : MERVOX_CLI_PATH, "mervox", "-q", "pcap", "--layout", "streams", "-", "-o",
              prefix.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);

    const std::vector<test::Bytes> frames = test::StreamFrames("speech-a.63.bit");
    const test::Bytes other = test::Ethernet(test::Ipv4Udp("192.0.2.7", 9, "192.0.2.8", 9, test::Bytes(600, 0x55)));
    size_t written = 0;
    bool ok = WriteAll(in[1], test::PcapFileHeader(1));
    test::Bytes chunk;
    while (ok && written < inputBytes) {
        const size_t n = run.distinctFrames++;
        test::Rtp h;
        h.ssrc = 0xb16;
        h.sequence = static_cast<uint16_t>(n);
        h.timestamp = static_cast<uint32_t>(240 * n);
        const test::Bytes packet = test::Ethernet(
            test::Ipv4Udp("10.1.1.1", 5004, "10.1.1.2", 5006, test::RtpBytes(h, frames[n % frames.size()])));
        const auto seconds = static_cast<uint32_t>(1700000000 + n * 3 / 100);
        const auto micros = static_cast<uint32_t>(n * 30000 % 1000000);
        for (int copy = 0; copy < kCopies; ++copy) {
            const test::Bytes record = test::PcapRecord(packet, seconds, micros);
            chunk.insert(chunk.end(), record.begin(), record.end());
        }
        const test::Bytes filler = test::PcapRecord(other, seconds, micros);
        chunk.insert(chunk.end(), filler.begin(), filler.end());
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
    EXPECT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(ok) << "the command stopped reading";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    run.peakKb = usage.ru_maxrss;
    struct stat wav = {};
    EXPECT_EQ(stat((dir + "/big-0x00000b16.wav").c_str(), &wav), 0);
    run.wavBytes = static_cast<size_t>(wav.st_size);
    std::printf("capture of %zu MB: peak RSS %ld kB\n", written >> 20, run.peakKb);
    return run;
}

// This test runs in a program of its own: a child's peak memory counts
// what it shared with its parent before exec.
TEST(PcapMemory, PeakMemoryDoesNotGrowWithTheCapture)
{
    // A directory of this run's own: another copy of the suite may run at
    // the same time.
    std::string pattern = ::testing::TempDir() + "mervox-pcap-memory-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern;
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);

    const Decoded quarter = DecodeGenerated(kInputBytes / 4, dir);
    const Decoded whole = DecodeGenerated(kInputBytes, dir);
    sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_LT(whole.peakKb, quarter.peakKb + kMaxGrowthKb);
    if (!kSanitized) {
        EXPECT_LT(whole.peakKb, kMaxPeakKb);
    }
    // Every distinct frame decoded once, the duplicates dropped.
    EXPECT_EQ(whole.wavBytes, 44 + whole.distinctFrames * 480);
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Runs `mervox pcap -` on `fakes` streams of 3 packets, all live at once,
// then a real call of 1000 packets, with at most 256 files open.
struct FakeRun {
    long peakKb = 0;
    size_t files = 0;
    size_t callBytes = 0;
};

FakeRun DecodeFakeStreams(size_t fakes, const std::string& dir)
{
    FakeRun run;
    int in[2];
    EXPECT_EQ(pipe(in), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        const rlimit files = {256, 256};
        setrlimit(RLIMIT_NOFILE, &files);
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=4").c_str(), 1);
        const std::string prefix = dir + "/fake";
        const char* other = std::getenv("MERVOX_TEST_CLI");
        execl(other && *other ? other : MERVOX_CLI_PATH, "mervox", "-q", "pcap", "--layout", "streams", "-", "-o",
              prefix.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    test::Bytes capture = test::PcapFileHeader(1);
    uint64_t micros = uint64_t{1700000000} * 1000000;
    test::AppendStreams(capture, micros, {0x100000, fakes, 3, 1, 20});
    test::AppendStreams(capture, micros, {0xca11, 1, 1000, 1, 30000});
    EXPECT_TRUE(WriteAll(in[1], capture)) << "the command stopped reading";
    close(in[1]);
    int status = 0;
    rusage usage = {};
    EXPECT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    run.peakKb = usage.ru_maxrss;
    struct stat wav = {};
    EXPECT_EQ(stat((dir + "/fake-0x0000ca11.wav").c_str(), &wav), 0);
    run.callBytes = static_cast<size_t>(wav.st_size);
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            run.files += e->d_name[0] != '.';
        closedir(d);
    }
    std::printf("%zu fake streams and a call: peak RSS %ld kB\n", fakes, run.peakKb);
    return run;
}

// Thousands of streams of a few packets, live at once, cost no open file,
// no file buffer and no decoder while they last: a real call after them is
// written, and memory grows by a little per stream (its reordering window
// and counts).
TEST(PcapMemory, FakeStreamsCostNeitherFilesNorBuffers)
{
    // Memory when there is one: every file is synced to disk when written.
    std::string pattern =
        (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm/") : ::testing::TempDir()) + "mervox-fake-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern;
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    constexpr size_t kFew = 3750, kMany = 15000;
    const FakeRun few = DecodeFakeStreams(kFew, dir);
    EXPECT_EQ(few.files, kFew + 1);
    std::system(("rm -rf '" + dir + "'/*").c_str());
    const FakeRun many = DecodeFakeStreams(kMany, dir);
    sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(many.files, kMany + 1);
    EXPECT_EQ(many.callBytes, 44u + 1000 * 480);
    // Once a file (64 KB of buffer), a decoder (4.5 KB) and more per stream;
    // a stream itself holds about 4 KB (its reordering window, counts, and
    // the lower envelope of its arrivals that places it in its call).
    const long perStreamBytes = (many.peakKb - few.peakKb) * 1024 / static_cast<long>(kMany - kFew);
    EXPECT_LT(perStreamBytes, kSanitized ? 12288 : 5120);
    if (!kSanitized) {
        EXPECT_LT(many.peakKb, 80 * 1024);
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::capture
