// `mervox decode` and `info` on inputs and outputs of any length: memory
// stays a few MB, output goes out as it is decoded, a reader that stops
// (`| head`) ends the run, and signals leave no temporary file behind.
// Inputs are generated on the fly; sizes are smaller under the sanitizers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::test {
namespace {

// Peak resident memory allowed to a run, in KiB: a few MB of the program's
// own (sanitizers add their shadow memory and bookkeeping).
constexpr long kPeakRssLimitKb = kSanitized ? 160 * 1024 : 24 * 1024;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Any hidden file in `dir`: the temporary file of an output being written.
bool HasTemporaryFile(const std::string& dir)
{
    for (const std::string& name : ListDir(dir))
        if (name[0] == '.')
            return true;
    return false;
}

TEST(CliStreaming, DecodeWritesAPipeAsItDecodesInBoundedMemory)
{
    // Untransmitted frames (one byte each, 480 bytes of output): hundreds of
    // MB of output through a pipe, from a pipe.
    const std::string dir = ScratchDir();
    const long frames = kSanitized ? 20000 : 250000;
    const ChildRun run =
        RunShell("head -c " + std::to_string(frames) + " /dev/zero | tr '\\000' '\\003' | " + CliCommand() +
                 " decode - -o - -f raw 2>'" + dir + "/err' | wc -c >'" + dir + "/count'");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(ReadText(dir + "/err"), "");
    EXPECT_EQ(std::stol(ReadText(dir + "/count")), frames * 480);
    EXPECT_LT(run.peakRssKb, kPeakRssLimitKb) << "output " << frames * 480 / 1024 << " KiB";
    if (!kSanitized) {  // their own memory exceeds the scaled-down data
        EXPECT_LT(run.peakRssKb * 1024, frames * 480 / 4);
    }
}

TEST(CliStreaming, InfoReadsHundredsOfMegabytesInBoundedMemory)
{
    // Zero bytes are 24-byte 6.3 kbit/s frames, each unpacked for faults.
    const std::string dir = ScratchDir();
    const long megabytes = kSanitized ? 12 : 240;
    const ChildRun run = RunShell("head -c " + std::to_string(megabytes) + "M /dev/zero | " + CliCommand() +
                                  " info - --json >'" + dir + "/info.json'");
    ASSERT_EQ(run.status, 0);
    const nlohmann::json j = nlohmann::json::parse(ReadText(dir + "/info.json"));
    EXPECT_EQ(j["bytes"], megabytes << 20);
    EXPECT_EQ(j["frames"], (megabytes << 20) / 24);
    EXPECT_EQ(j["frames_by_type"]["rate_6300"], (megabytes << 20) / 24);
    EXPECT_LT(run.peakRssKb, kPeakRssLimitKb);
    if (!kSanitized) {
        EXPECT_LT(run.peakRssKb, (megabytes << 10) / 4);
    }
}

TEST(CliStreaming, AReaderThatStopsEndsTheDecodeOfAnEndlessInput)
{
    // /dev/zero never ends; `head` takes 1 MB and closes the pipe, and
    // mervox ends at once, quietly and with success.
    const std::string dir = ScratchDir();
    const ChildRun run =
        RunShell("{ timeout -s KILL 60 " + CliCommand() + " decode /dev/zero -o - -f raw 2>'" + dir +
                 "/err'; echo $? >'" + dir + "/status'; } | head -c 1000000 | wc -c >'" + dir + "/count'");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(ReadText(dir + "/count"), "1000000\n");
    EXPECT_EQ(ReadText(dir + "/status"), "0\n");
    EXPECT_EQ(ReadText(dir + "/err"), "");
    EXPECT_LT(run.peakRssKb, kPeakRssLimitKb);

    // The same for a report.
    const ChildRun info = RunShell("{ " + CliCommand() + " info '" + DataPath("corpus/speech-a.63.bit") + "' 2>'" +
                                   dir + "/err'; echo $? >'" + dir + "/status'; } | head -c 1 >/dev/null");
    ASSERT_EQ(info.status, 0);
    EXPECT_EQ(ReadText(dir + "/status"), "0\n");
    EXPECT_EQ(ReadText(dir + "/err"), "");
}

TEST(CliStreaming, InfoOfAnEndlessInputRunsInBoundedMemoryUntilInterrupted)
{
    const auto start = std::chrono::steady_clock::now();
    const ChildRun run = RunShell("exec " + CliCommand() + " info /dev/zero >/dev/null", SIGINT, [&] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500);
    });
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_LT(run.peakRssKb, kPeakRssLimitKb);
}

TEST(CliStreaming, AddressSpaceLimitIsNoProblem)
{
    // Held in memory, 100000 frames of output (48 MB) failed under a 40 MB
    // address-space limit with an uncaught std::bad_alloc.
    if (kSanitized)
        GTEST_SKIP() << "the sanitizers reserve terabytes of address space; no limit can be set";
    const std::string dir = ScratchDir();
    const ChildRun run = RunShell("ulimit -v 40000; head -c 100000 /dev/zero | tr '\\000' '\\003' | " + CliCommand() +
                                  " decode - -o - 2>'" + dir + "/err' | wc -c >'" + dir + "/count'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadText(dir + "/err"), "");
    EXPECT_EQ(ReadText(dir + "/count"), std::to_string(44 + 100000 * 480) + "\n");
}

// A stream long enough to be interrupted while it is being decoded:
// corpus speech repeated.
std::string LongStream(const std::string& dir)
{
    const std::vector<uint8_t> speech = ReadFileBytes(DataPath("corpus/speech-a.mixed.bit"));
    std::vector<uint8_t> stream;
    for (int i = 0; i < (kSanitized ? 3 : 20); ++i)
        stream.insert(stream.end(), speech.begin(), speech.end());
    WriteFileBytes(dir + "/long.bit", stream);
    return dir + "/long.bit";
}

TEST(CliSignals, InterruptedDecodeLeavesNoTemporaryFile)
{
    const std::string dir = ScratchDir();
    const std::string in = LongStream(dir);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        WriteFileBytes(dir + "/out.wav", {'o', 'l', 'd'});
        const ChildRun run = RunShell("exec " + CliCommand() + " decode '" + in + "' -o '" + dir + "/out.wav'", signal,
                                      [&] { return HasTemporaryFile(dir); });
        EXPECT_EQ(run.signal, signal) << "status " << run.status;
        EXPECT_EQ(run.status, 128 + signal);
        EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"long.bit", "out.wav"})) << "signal " << signal;
        EXPECT_EQ(ReadFileBytes(dir + "/out.wav"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
}

TEST(CliSignals, FileSizeLimitLeavesNoTemporaryFile)
{
    // `ulimit -f` (in 512-byte blocks) stops the output half way with SIGXFSZ.
    const std::string dir = ScratchDir();
    const std::string in = LongStream(dir);
    const ChildRun run =
        RunShell("ulimit -f 2000; exec " + CliCommand() + " decode '" + in + "' -o '" + dir + "/out.wav' 2>/dev/null");
    EXPECT_EQ(run.signal, SIGXFSZ) << "status " << run.status;
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"long.bit"});
}

TEST(CliStreaming, WavToAPipeIsReadToTheEndByLibsndfileSoxAndPython)
{
    // The unknown-length header (sizes 0xffffffff) as common readers take it.
    const std::string dir = ScratchDir();
    const std::string in = DataPath("corpus/speech-a.53.bit");
    const std::vector<int16_t> want = DecodeWithLegacyApi(ReadFileBytes(in));
    const std::string decode = CliCommand() + " decode '" + in + "' -o - | ";

    // libsndfile, reading the pipe itself.
    std::FILE* pipe = popen((CliCommand() + " decode '" + in + "' -o -").c_str(), "r");
    ASSERT_TRUE(pipe);
    SF_INFO info = {};
    SNDFILE* file = sf_open_fd(fileno(pipe), SFM_READ, &info, SF_FALSE);
    ASSERT_TRUE(file) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 8000);
    EXPECT_EQ(info.channels, 1);
    std::vector<int16_t> samples(want.size() + 1000);
    EXPECT_EQ(sf_read_short(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(want.size()));
    samples.resize(want.size());
    EXPECT_TRUE(samples == want);
    sf_close(file);
    EXPECT_EQ(pclose(pipe), 0);

    ChildRun run = RunShell(decode +
                            "/usr/bin/python3 -c \"import sys, wave; w = wave.open(sys.stdin.buffer); "
                            "sys.stdout.buffer.write(w.readframes(1 << 30))\" >'" +
                            dir + "/python.raw'");
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/python.raw")) == want);

    run = RunShell("command -v sox >/dev/null");
    if (run.status != 0) {
        ASSERT_EQ(std::getenv("CI") ? std::string(std::getenv("CI")) : "", "") << "sox is missing (CI=true)";
        GTEST_SKIP() << "sox is not installed (package sox)";
    }
    run = RunShell(decode + "sox -V1 -t wav - -t raw -e signed -b 16 -L '" + dir + "/sox.raw'");
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/sox.raw")) == want);
}

TEST(CliDescriptors, OutputThroughStdoutKeepsWhatTheFileHeld)
{
    const std::string dir = ScratchDir();
    const std::string in = DataPath("corpus/speech-a.63.bit");
    const std::vector<int16_t> want = DecodeWithLegacyApi(ReadFileBytes(in));
    const std::string log = dir + "/log.txt";
    for (const std::string path : {"/dev/stdout", "/proc/self/fd/1", "/dev/fd/1"}) {
        // Appending: the earlier content stays.
        WriteFileBytes(log, {'o', 'l', 'd', '\n'});
        ChildRun run = RunShell(CliCommand() + " decode '" + in + "' -o " + path + " -f raw >>'" + log + "'");
        ASSERT_EQ(run.status, 0) << path;
        std::vector<uint8_t> bytes = ReadFileBytes(log);
        ASSERT_EQ(bytes.size(), 4 + want.size() * 2) << path;
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "old\n");
        EXPECT_TRUE(SamplesFromS16le(std::vector<uint8_t>(bytes.begin() + 4, bytes.end())) == want);

        // A group writing around it: the WAV sits between, its header complete.
        run = RunShell("{ echo before; " + CliCommand() + " decode '" + in + "' -o " + path + "; echo after; } >'" +
                       log + "'");
        ASSERT_EQ(run.status, 0) << path;
        bytes = ReadFileBytes(log);
        ASSERT_GT(bytes.size(), 13u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 7), "before\n");
        EXPECT_EQ(std::string(bytes.end() - 6, bytes.end()), "after\n");
        const WavFile wav = ParseWav(std::vector<uint8_t>(bytes.begin() + 7, bytes.end() - 6));
        EXPECT_TRUE(wav.valid) << path;
        EXPECT_TRUE(wav.samples == want) << path;
        EXPECT_EQ(ListDir(dir), std::vector<std::string>{"log.txt"});
    }
}

}  // namespace
}  // namespace mervox::test
