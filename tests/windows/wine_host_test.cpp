// mervox.dll under Wine, driven by the 32-bit test host, must decode every
// stream exactly as the native library does, sample for sample.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "mervox.h"
#include "test_support.h"
#include "windows_test_env.h"

namespace mervox::windows_test {
namespace {

using mervox::test::DataPath;
using mervox::test::ReadFileBytes;

void ExpectSamePcm(const std::vector<int16_t>& dll, const std::vector<int16_t>& native)
{
    ASSERT_EQ(dll.size(), native.size());
    for (size_t i = 0; i < dll.size(); ++i)
        ASSERT_EQ(dll[i], native[i]) << "first difference at sample " << i << " (frame " << i / 240 << ")";
}

struct HostRun {
    std::string host = "mervox_host.exe";
    std::string stream;  // under tests/data
    std::string mask;    // absolute path, or empty
    int32_t init = 1;
    std::vector<std::string> flags;
};

std::string StreamPath(const HostRun& run) { return run.stream[0] == '/' ? run.stream : DataPath(run.stream); }

// Runs the host under Wine; returns its output samples (and what it printed
// in *printed).
std::vector<int16_t> RunHost(const HostRun& run, const std::string& outputName, std::string* printed = nullptr)
{
    const std::string output = WorkFile(outputName);
    std::remove(output.c_str());
    std::vector<std::string> args = run.flags;
    if (!run.mask.empty())
        args.insert(args.end(), {"--mask", WinePath(run.mask)});
    args.insert(args.end(), {"--init", std::to_string(run.init), WinePath(StreamPath(run)), WinePath(output)});
    const CommandResult result = RunUnderWine(WindowsBinary(run.host), args);
    EXPECT_EQ(result.status, 0) << run.host << " failed:\n" << result.output;
    if (printed)
        *printed = result.output;
    return result.status == 0 ? ReadPcm(output) : std::vector<int16_t>{};
}

void ExpectHostMatchesNative(const HostRun& run, const std::string& outputName)
{
    const std::vector<int16_t> dll = RunHost(run, outputName);
    if (::testing::Test::HasFailure())
        return;
    const std::vector<uint8_t> mask = run.mask.empty() ? std::vector<uint8_t>{} : ReadFileBytes(run.mask);
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(ReadFileBytes(StreamPath(run)), mask, run.init));
}

class WineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MERVOX_REQUIRE_TOOLS(MissingForWine());
        ASSERT_TRUE(std::ifstream(WindowsBinary("mervox.dll")).good()) << "mervox.dll was not built";
    }
};

// Creates the Wine prefix the other tests share (a ctest fixture).
class WinePrefix : public WineTest {};

TEST_F(WinePrefix, Starts)
{
    const CommandResult boot = RunUnderWine("wineboot", {"--init"});
    ASSERT_EQ(boot.status, 0) << boot.output;
    struct stat info;
    EXPECT_EQ(stat((WinePrefixDir() + "/system.reg").c_str(), &info), 0) << "no registry in " << WinePrefixDir();
}

// Every corpus stream (with its loss mask where the name ends in .loss):
// identical to the native decode, which in turn has the recorded digest.
class CorpusUnderWine : public WineTest, public ::testing::WithParamInterface<CorpusCase> {};

TEST_P(CorpusUnderWine, MatchesNativeLibrary)
{
    const CorpusCase& c = GetParam();
    const bool masked = c.name.size() > 5 && c.name.compare(c.name.size() - 5, 5, ".loss") == 0;
    const std::string stem = masked ? c.name.substr(0, c.name.size() - 5) : c.name;
    HostRun run;
    run.stream = "corpus/" + stem + ".bit";
    if (masked)
        run.mask = DataPath("corpus/" + stem + ".loss");
    const std::vector<int16_t> dll = RunHost(run, c.name + ".pcm");
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(dll.size(), c.frames * 240);
    EXPECT_EQ(Digest(dll), c.digest);
    const std::vector<uint8_t> mask = masked ? ReadFileBytes(run.mask) : std::vector<uint8_t>{};
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(ReadFileBytes(DataPath(run.stream)), mask));
}

INSTANTIATE_TEST_SUITE_P(Streams, CorpusUnderWine, ::testing::ValuesIn(CorpusCases()),
                         [](const ::testing::TestParamInfo<CorpusCase>& param) {
                             return CorpusTestName(param.param.name);
                         });

TEST(CorpusUnderWineList, CoversEveryStream) { EXPECT_EQ(CorpusCases().size(), 9u); }

// Runs of lost frames of every length from 1 to 12, a long run, alternating
// losses, and losses at both ends of the stream.
std::string WriteLossRunMask(size_t frames, const std::string& name)
{
    std::vector<uint8_t> mask(frames, 0);
    for (size_t k = 0; k < 3; ++k)
        mask[k] = 1;
    for (size_t length = 1; length <= 12; ++length)
        for (size_t k = 0; k < length; ++k)
            mask[100 + 150 * (length - 1) + k] = 1;
    for (size_t k = 2000; k < 2060; ++k)
        mask[k] = 1;
    for (size_t k = 2500; k < 2600; k += 2)
        mask[k] = 1;
    for (size_t k = frames - 5; k < frames; ++k)
        mask[k] = 1;
    const std::string path = WorkFile(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(mask.data()), mask.size());
    return path;
}

class LossRunsUnderWine : public WineTest {
protected:
    // Tests may run in parallel: each writes its own mask.
    HostRun Run(const std::string& stream, int32_t init, const std::string& maskName)
    {
        HostRun run;
        run.stream = stream;
        run.init = init;
        run.mask = WriteLossRunMask(mervox::test::SplitStream(ReadFileBytes(DataPath(stream))).size(), maskName);
        return run;
    }
};

TEST_F(LossRunsUnderWine, RateSwitchingStream)
{
    ExpectHostMatchesNative(Run("corpus/speech-a.mixed.bit", 1, "runs-mixed.loss"), "runs-mixed.pcm");
}

// INITdec(0) assumes 5.3 kbit/s for the frames lost before the first one.
TEST_F(LossRunsUnderWine, RateSwitchingStreamAfterInitZero)
{
    ExpectHostMatchesNative(Run("corpus/speech-a.mixed.bit", 0, "runs-mixed-init0.loss"), "runs-mixed-init0.pcm");
}

TEST_F(LossRunsUnderWine, StreamWithSilenceFrames)
{
    ExpectHostMatchesNative(Run("corpus/speech-a.63-vad.bit", 1, "runs-63-vad.loss"), "runs-63-vad.pcm");
}

// The ways a host may reach the DLL.
class HostModesUnderWine : public WineTest {};

// Called from a 4-byte aligned stack, and every call must remove its own
// arguments (stdcall).
TEST_F(HostModesUnderWine, MisalignedStackAndStdcallCleanup)
{
    HostRun run;
    run.stream = "corpus/speech-a.mixed.bit";
    run.mask = DataPath("corpus/speech-a.mixed.loss");
    run.flags = {"--misaligned"};
    ExpectHostMatchesNative(run, "misaligned.pcm");
}

// Unloading releases the decoder and reloading sets it up afresh: the host
// decodes twice with FreeLibrary and LoadLibrary between and compares.
TEST_F(HostModesUnderWine, UnloadAndReload)
{
    HostRun run;
    run.stream = "corpus/speech-a.53.bit";
    run.mask = DataPath("corpus/speech-a.53.loss");
    run.flags = {"--reload"};
    ExpectHostMatchesNative(run, "reload.pcm");
}

// Linked against the import library: the decorated stdcall names of the
// header must bind to the undecorated exports.
TEST_F(HostModesUnderWine, LinkedThroughImportLibrary)
{
    HostRun run;
    run.host = "mervox_linked_host.exe";
    run.stream = "corpus/speech-a.63-enc2.bit";
    ExpectHostMatchesNative(run, "linked.pcm");
}

// mervox-api.dll, through its import library: decoder objects give the
// samples of the native library, several decoders at once agree, the calls
// are cdecl, and the other exports answer as the native ones.
class ApiDllUnderWine : public WineTest {
protected:
    void SetUp() override
    {
        WineTest::SetUp();
        ASSERT_TRUE(std::ifstream(WindowsBinary("mervox-api.dll")).good()) << "mervox-api.dll was not built";
    }

    static HostRun ApiRun(const std::string& stem, bool masked, std::vector<std::string> flags)
    {
        HostRun run;
        run.host = "mervox_api_host.exe";
        run.stream = "corpus/" + stem + ".bit";
        if (masked)
            run.mask = DataPath("corpus/" + stem + ".loss");
        run.flags = std::move(flags);
        return run;
    }
};

TEST_F(ApiDllUnderWine, ThreeDecodersAtOnceOnARateSwitchingStreamWithLosses)
{
    ExpectHostMatchesNative(ApiRun("speech-a.mixed", true, {"--decoders", "3"}), "api-mixed.pcm");
}

// Called from a 4-byte aligned stack, the caller removing the arguments; the
// rate selector 0 is passed through.
TEST_F(ApiDllUnderWine, CdeclFromAMisalignedStackAfterSelectorZero)
{
    HostRun run = ApiRun("speech-a.53-vad", false, {"--misaligned"});
    run.init = 0;
    ExpectHostMatchesNative(run, "api-53-vad.pcm");
}

// On a stream with damaged frames (every seventh speech frame's parameters
// set to ones, which gives impossible codes), so that fault counting and
// the concealment of faulty frames are compared too.
TEST_F(ApiDllUnderWine, VersionFaultsAndErrorTextAsTheNativeLibrary)
{
    std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63-vad.bit"));
    const std::vector<mervox::test::StreamFrame> frames = mervox::test::SplitStream(stream);
    for (size_t k = 0; k < frames.size(); k += 7)
        if (frames[k].speech)
            std::fill(stream.begin() + frames[k].offset + 1, stream.begin() + frames[k].offset + frames[k].length,
                      0xff);
    long faults = 0;
    for (const auto& f : frames)
        if (f.speech)
            faults += mervox_frame_faults(stream.data() + f.offset, f.length);
    ASSERT_GT(faults, 0);
    HostRun run = ApiRun("speech-a.63-vad", false, {});
    run.stream = WorkFile("damaged-63-vad.bit");
    std::ofstream(run.stream, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));

    std::string printed;
    const std::vector<int16_t> dll = RunHost(run, "api-damaged.pcm", &printed);
    ASSERT_FALSE(HasFailure());
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(stream));
    std::ostringstream expected;
    expected << "version " << MERVOX_EXPECTED_VERSION << "\nframes " << frames.size() << " faults " << faults
             << "\nstrerror " << mervox_strerror(MERVOX_INVALID_FRAME) << "\n";
    // Wine may end lines with \r\n.
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    EXPECT_EQ(printed, expected.str());
}

}  // namespace
}  // namespace mervox::windows_test
