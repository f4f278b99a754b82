// The 64-bit DLLs under wine64, driven by the 64-bit builds of the test
// hosts: every corpus stream through mervox.dll and through mervox-api.dll's
// batch call in each vector variant must give the recorded digest, which the
// native library gives.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <tuple>

#include "mervox.h"
#include "test_support.h"
#include "windows_test_env.h"

namespace mervox::windows_test {
namespace {

using mervox::test::DataPath;
using mervox::test::ReadFileBytes;

constexpr Width k64 = Width::k64;

// The stream and mask of a corpus case (the mask where the name ends in
// .loss; empty otherwise).
struct CorpusFiles {
    std::string stream;
    std::string mask;
};

CorpusFiles FilesOf(const CorpusCase& c)
{
    const bool masked = c.name.size() > 5 && c.name.compare(c.name.size() - 5, 5, ".loss") == 0;
    const std::string stem = masked ? c.name.substr(0, c.name.size() - 5) : c.name;
    return {DataPath("corpus/" + stem + ".bit"), masked ? DataPath("corpus/" + stem + ".loss") : ""};
}

struct Run64 {
    std::string host;
    std::string stream;  // absolute path
    std::string mask;    // absolute path, or empty
    std::vector<std::string> flags;
    std::vector<std::string> environment;
};

// Runs a 64-bit host under wine64; returns its samples (and what it printed,
// in *printed, without Wine's carriage returns).
std::vector<int16_t> RunHost64(const Run64& run, const std::string& outputName, std::string* printed = nullptr)
{
    const std::string output = WorkFile("win64-" + outputName);
    std::remove(output.c_str());
    std::vector<std::string> args = run.flags;
    if (!run.mask.empty())
        args.insert(args.end(), {"--mask", WinePath(run.mask)});
    args.insert(args.end(), {WinePath(run.stream), WinePath(output)});
    const CommandResult result = RunUnderWine(WindowsBinary(run.host, k64), args, k64, run.environment);
    EXPECT_EQ(result.status, 0) << run.host << " failed:\n" << result.output;
    if (printed) {
        *printed = result.output;
        printed->erase(std::remove(printed->begin(), printed->end(), '\r'), printed->end());
    }
    return result.status == 0 ? ReadPcm(output) : std::vector<int16_t>{};
}

void ExpectSamePcm(const std::vector<int16_t>& dll, const std::vector<int16_t>& native)
{
    ASSERT_EQ(dll.size(), native.size());
    const auto diff = std::mismatch(dll.begin(), dll.end(), native.begin());
    EXPECT_EQ(diff.first, dll.end()) << "first difference at sample " << diff.first - dll.begin() << " (frame "
                                     << (diff.first - dll.begin()) / 240 << ")";
}

class Win64Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        MERVOX_REQUIRE_TOOLS(MissingForWine(k64));
        for (const char* dll : {"mervox.dll", "mervox-api.dll"})
            ASSERT_TRUE(std::ifstream(WindowsBinary(dll, k64)).good()) << "64-bit " << dll << " was not built";
    }
};

// Creates the 64-bit Wine prefix the other tests share (a ctest fixture).
class Wine64Prefix : public Win64Test {};

TEST_F(Wine64Prefix, Starts)
{
    const CommandResult boot = RunUnderWine("wineboot", {"--init"}, k64);
    ASSERT_EQ(boot.status, 0) << boot.output;
    struct stat info;
    EXPECT_EQ(stat((WinePrefixDir(k64) + "/drive_c/windows/syswow64").c_str(), &info), 0)
        << "not a 64-bit prefix: " << WinePrefixDir(k64);
}

// mervox.dll loaded at run time, its functions found by name and by ordinal
// (and ordinal 1 absent), called through plain function pointers.
class CorpusWin64 : public Win64Test, public ::testing::WithParamInterface<CorpusCase> {};

TEST_P(CorpusWin64, LegacyDllMatchesDigestAndNativeLibrary)
{
    const CorpusCase& c = GetParam();
    const CorpusFiles files = FilesOf(c);
    const std::vector<int16_t> dll = RunHost64({"mervox_host.exe", files.stream, files.mask, {}, {}}, c.name + ".pcm");
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(dll.size(), c.frames * 240);
    EXPECT_EQ(Digest(dll), c.digest);
    const std::vector<uint8_t> mask = files.mask.empty() ? std::vector<uint8_t>{} : ReadFileBytes(files.mask);
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(ReadFileBytes(files.stream), mask));
}

INSTANTIATE_TEST_SUITE_P(Streams, CorpusWin64, ::testing::ValuesIn(CorpusCases()),
                         [](const ::testing::TestParamInfo<CorpusCase>& param) {
                             return CorpusTestName(param.param.name);
                         });

// mervox-api.dll: one decoder fed frame by frame (its samples give the
// digest) and eleven more fed through mervox_decode_many, which the host
// checks against the first frame by frame: more decoders than one register
// of any variant holds, and a partial group. MERVOX_LANES caps the variant
// the library picks, so that each one the processor runs is exercised;
// wider ones than the processor has fall back to the widest it runs.
const std::vector<std::string> kLaneVariants = {"scalar", "sse2", "avx2", "avx512"};

class CorpusLanesWin64 : public Win64Test, public ::testing::WithParamInterface<std::tuple<CorpusCase, std::string>> {};

TEST_P(CorpusLanesWin64, BatchCallMatchesDigest)
{
    const CorpusCase& c = std::get<0>(GetParam());
    const std::string& variant = std::get<1>(GetParam());
    const CorpusFiles files = FilesOf(c);
    std::string printed;
    const std::vector<int16_t> dll = RunHost64(
        {"mervox_api_host.exe", files.stream, files.mask, {"--decoders", "12", "--batch"}, {"MERVOX_LANES=" + variant}},
        c.name + "." + variant + ".pcm", &printed);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(dll.size(), c.frames * 240);
    EXPECT_EQ(Digest(dll), c.digest);
    EXPECT_NE(printed.find("frames " + std::to_string(c.frames) + " faults "), std::string::npos) << printed;
}

INSTANTIATE_TEST_SUITE_P(Streams, CorpusLanesWin64,
                         ::testing::Combine(::testing::ValuesIn(CorpusCases()), ::testing::ValuesIn(kLaneVariants)),
                         [](const ::testing::TestParamInfo<std::tuple<CorpusCase, std::string>>& param) {
                             return CorpusTestName(std::get<0>(param.param).name) + "_" + std::get<1>(param.param);
                         });

TEST(CorpusListWin64, CoversEveryStream) { EXPECT_EQ(CorpusCases().size(), 9u); }

// The other ways a 64-bit host reaches the DLLs.
class HostModesWin64 : public Win64Test {};

// Linked against the import library made from mervox-x64.def: Windows binds
// the undecorated names when it loads the program.
TEST_F(HostModesWin64, LinkedThroughImportLibrary)
{
    const std::string stream = DataPath("corpus/speech-a.63-enc2.bit");
    const std::vector<int16_t> dll = RunHost64({"mervox_linked_host.exe", stream, "", {}, {}}, "linked.pcm");
    ASSERT_FALSE(HasFailure());
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(ReadFileBytes(stream)));
}

// Unloading releases the legacy decoder and reloading sets it up afresh.
TEST_F(HostModesWin64, UnloadAndReload)
{
    const std::string stream = DataPath("corpus/speech-a.53.bit");
    const std::string mask = DataPath("corpus/speech-a.53.loss");
    const std::vector<int16_t> dll = RunHost64({"mervox_host.exe", stream, mask, {"--reload"}, {}}, "reload.pcm");
    ASSERT_FALSE(HasFailure());
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(ReadFileBytes(stream), ReadFileBytes(mask)));
}

// Damaged frames (every seventh speech frame's parameters set to ones, which
// gives impossible codes) through single calls and the batch call: fault
// counts, concealment, version and error text as the native library's.
TEST_F(HostModesWin64, DamagedFramesVersionAndErrorTextAsTheNativeLibrary)
{
    std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.mixed.bit"));
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
    const std::string path = WorkFile("win64-damaged-mixed.bit");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));

    std::string printed;
    const std::vector<int16_t> dll =
        RunHost64({"mervox_api_host.exe", path, "", {"--decoders", "5", "--batch"}, {}}, "damaged.pcm", &printed);
    ASSERT_FALSE(HasFailure());
    ExpectSamePcm(dll, mervox::test::DecodeWithLegacyApi(stream));
    std::ostringstream expected;
    expected << "version " << MERVOX_EXPECTED_VERSION << "\nframes " << frames.size() << " faults " << faults
             << "\nstrerror " << mervox_strerror(MERVOX_INVALID_FRAME) << "\n";
    EXPECT_EQ(printed, expected.str());
}

}  // namespace
}  // namespace mervox::windows_test
