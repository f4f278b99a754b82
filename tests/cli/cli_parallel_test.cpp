// `mervox decode` with several inputs: each output equals the input's own
// single decode whatever the number of threads, a failing input leaves the
// others decoded and sets the exit status, outputs go beside the inputs
// or into -o DIR, and --skip-existing leaves finished outputs untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::test {
namespace {

const std::string kCorpus = DataPath("corpus/");
const std::vector<std::string> kStreams = {"speech-a.63",     "speech-a.53",     "speech-a.mixed",
                                           "speech-a.63-vad", "speech-a.53-vad", "speech-a.63-enc2"};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string CorpusInputs()
{
    std::string args;
    for (const std::string& s : kStreams)
        args += " " + Quote(kCorpus + s + ".bit");
    return args;
}

struct FileId {
    ino_t inode = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileId& o) const { return inode == o.inode && mtimeNs == o.mtimeNs; }
};

FileId IdOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return {st.st_ino, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

TEST(DecodeMany, EachOutputEqualsItsSingleDecodeOnAnyNumberOfThreads)
{
    const std::string dir = ScratchDir();
    for (const std::string& losses : {std::string(""), std::string(" --drop-rate 0.2 --seed 7")}) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/single");
        for (const std::string& s : kStreams) {
            const CliRun run = RunCli("decode " + Quote(kCorpus + s + ".bit") + " -o " +
                                      Quote(dir + "/single/" + s + ".wav") + losses);
            ASSERT_EQ(run.status, 0) << run.err;
        }
        for (const std::string& jobs : {std::string("1"), std::string("2"), std::string("5")}) {
            const std::string out = dir + "/j" + jobs;
            const CliRun run = RunCli("decode" + CorpusInputs() + " -j " + jobs + " -o " + Quote(out) + losses);
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "mervox: 6 inputs: 6 decoded, 0 skipped (output exists), 0 failed\n");
            EXPECT_EQ(ListDir(out).size(), kStreams.size());  // no temporary file left
            for (const std::string& s : kStreams)
                EXPECT_TRUE(ReadFileBytes(out + "/" + s + ".wav") == ReadFileBytes(dir + "/single/" + s + ".wav"))
                    << s << " -j " << jobs << losses;
        }
    }
    // The decoded samples are the library's (not only self-consistent).
    const std::vector<uint8_t> stream = ReadFileBytes(kCorpus + "speech-a.mixed.bit");
    const WavFile wav = ParseWav(ReadFileBytes(dir + "/single/speech-a.mixed.wav"));
    EXPECT_FALSE(wav.samples == DecodeWithLegacyApi(stream));  // the last round dropped frames
    const CliRun run = RunCli("decode" + CorpusInputs() + " -j 2 -q -o " + Quote(dir + "/plain"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir + "/plain/speech-a.mixed.wav")).samples == DecodeWithLegacyApi(stream));
}

TEST(DecodeMany, WithoutOutputEachGoesBesideItsInput)
{
    const std::string dir = ScratchDir();
    std::filesystem::create_directories(dir + "/a");
    std::filesystem::copy_file(kCorpus + "speech-a.63.bit", dir + "/a/one.bit");
    std::filesystem::copy_file(kCorpus + "speech-a.53.bit", dir + "/two.g723");
    const CliRun run = RunCli("decode " + Quote(dir + "/a/one.bit") + " " + Quote(dir + "/two.g723") + " -j 2");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ListDir(dir + "/a"), (std::vector<std::string>{"one.bit", "one.wav"}));
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir + "/two.wav")).samples ==
                DecodeWithLegacyApi(ReadFileBytes(kCorpus + "speech-a.53.bit")));
}

TEST(DecodeMany, OutputDirectory)
{
    const std::string dir = ScratchDir();
    const std::string in = Quote(kCorpus + "speech-a.63.bit");
    // A new directory for one input named with a trailing '/'; -f raw gives .raw.
    CliRun run = RunCli("decode " + in + " -o " + Quote(dir + "/new/") + " -f raw");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ListDir(dir + "/new"), std::vector<std::string>{"speech-a.63.raw"});
    EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/new/speech-a.63.raw")) ==
                DecodeWithLegacyApi(ReadFileBytes(kCorpus + "speech-a.63.bit")));
    // An existing directory for one input.
    run = RunCli("decode " + in + " -o " + Quote(dir + "/new"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ListDir(dir + "/new"), (std::vector<std::string>{"speech-a.63.raw", "speech-a.63.wav"}));
    // Several inputs: OUT is a directory, created when missing.
    run = RunCli("decode " + in + " " + Quote(kCorpus + "speech-a.53.bit") + " -o " + Quote(dir + "/many"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ListDir(dir + "/many"), (std::vector<std::string>{"speech-a.53.wav", "speech-a.63.wav"}));
    // A missing parent is an output error.
    run = RunCli("decode " + in + " -o " + Quote(dir + "/no/such/"));
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("cannot create the directory: No such file or directory"), std::string::npos) << run.err;
}

TEST(DecodeMany, CommandLinesRefusedBeforeAnythingIsWritten)
{
    const std::string dir = ScratchDir();
    std::filesystem::create_directories(dir + "/x");
    std::filesystem::create_directories(dir + "/y");
    std::filesystem::copy_file(kCorpus + "speech-a.63.bit", dir + "/x/call.bit");
    std::filesystem::copy_file(kCorpus + "speech-a.53.bit", dir + "/y/call.bit");
    WriteFileBytes(dir + "/file.wav", {1, 2, 3});
    const std::string two = Quote(dir + "/x/call.bit") + " " + Quote(dir + "/y/call.bit");
    struct Case {
        std::string args, message;
    };
    const std::vector<Case> cases = {
        {two + " -o " + Quote(dir + "/out"), "would both be decoded to " + dir + "/out/call.wav"},
        {two + " -o -", "several inputs cannot share stdout"},
        {Quote(dir + "/x/call.bit") + " -", "can only be decoded as the only input"},
        {two + " --loss " + Quote(kCorpus + "speech-a.63.loss"), "a loss mask belongs to one stream"},
        {two + " -o " + Quote(dir + "/file.wav"), "not a directory"},
        {two + " -j 0", "jobs must be a whole number from 1 to 4096"},
    };
    for (const Case& c : cases) {
        const CliRun run = RunCli("decode " + c.args);
        EXPECT_EQ(run.status, 2) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ListDir(dir + "/x"), std::vector<std::string>{"call.bit"});
    EXPECT_EQ(ListDir(dir + "/y"), std::vector<std::string>{"call.bit"});
    EXPECT_FALSE(FileExists(dir + "/out"));
    EXPECT_EQ(ReadFileBytes(dir + "/file.wav"), (std::vector<uint8_t>{1, 2, 3}));

    // An output that is another input of the run (here through a link).
    std::filesystem::copy_file(dir + "/x/call.bit", dir + "/x/call.wav");
    std::filesystem::create_symlink(dir + "/x/call.wav", dir + "/y/link.bit");
    const CliRun run = RunCli("decode " + Quote(dir + "/x/call.bit") + " " + Quote(dir + "/y/link.bit"));
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("would overwrite an input"), std::string::npos) << run.err;
    EXPECT_TRUE(ReadFileBytes(dir + "/x/call.wav") == ReadFileBytes(dir + "/x/call.bit"));
}

TEST(DecodeMany, AFailingInputStopsNoOtherAndTheWorstStatusWins)
{
    const std::string dir = ScratchDir();
    std::filesystem::create_directories(dir + "/in");
    std::filesystem::copy_file(kCorpus + "speech-a.63.bit", dir + "/in/good1.bit");
    std::filesystem::copy_file(kCorpus + "speech-a.53.bit", dir + "/in/good2.bit");
    std::filesystem::copy_file(kCorpus + "speech-a.mixed.bit", dir + "/in/blocked.bit");
    WriteFileBytes(dir + "/in/empty.bit", {});
    // blocked.bit's output path is taken by a directory: an output error.
    std::filesystem::create_directories(dir + "/out/blocked.wav");
    const std::string in = dir + "/in/";
    const std::string args = Quote(in + "missing.bit") + " " + Quote(in + "good1.bit") + " " + Quote(in + "empty.bit") +
                             " " + Quote(in + "blocked.bit") + " " + Quote(in + "good2.bit");
    for (const std::string& jobs : {std::string("1"), std::string("2")}) {
        std::filesystem::remove(dir + "/out/good1.wav");
        std::filesystem::remove(dir + "/out/good2.wav");
        CliRun run = RunCli("decode " + args + " -j " + jobs + " -o " + Quote(dir + "/out"));
        EXPECT_EQ(run.status, 3) << run.err;  // the worst of 1 (inputs) and 3 (output)
        EXPECT_NE(run.err.find(in + "missing.bit: cannot open"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(in + "empty.bit: byte 0: empty input"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(dir + "/out/blocked.wav: cannot create output"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("5 inputs: 2 decoded, 0 skipped (output exists), 3 failed"), std::string::npos);
        EXPECT_EQ(ListDir(dir + "/out"), (std::vector<std::string>{"blocked.wav", "good1.wav", "good2.wav"}));
        EXPECT_TRUE(ParseWav(ReadFileBytes(dir + "/out/good2.wav")).samples ==
                    DecodeWithLegacyApi(ReadFileBytes(in + "good2.bit")));
    }
    // Without the output failure the worst is the input's status.
    const CliRun run =
        RunCli("decode " + Quote(in + "good1.bit") + " " + Quote(in + "missing.bit") + " -o " + Quote(dir + "/out2"));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(FileExists(dir + "/out2/good1.wav"));
}

TEST(DecodeMany, SkipExistingLeavesFinishedOutputsAndRedoesMissingOnes)
{
    const std::string dir = ScratchDir();
    const std::string out = dir + "/out";
    CliRun run = RunCli("decode" + CorpusInputs() + " -j 2 -o " + Quote(out));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<FileId> before;
    for (const std::string& s : kStreams)
        before.push_back(IdOf(out + "/" + s + ".wav"));
    const std::vector<uint8_t> removedBytes = ReadFileBytes(out + "/speech-a.mixed.wav");
    std::filesystem::remove(out + "/speech-a.mixed.wav");

    run = RunCli("decode" + CorpusInputs() + " -j 2 --skip-existing -o " + Quote(out));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "mervox: 6 inputs: 1 decoded, 5 skipped (output exists), 0 failed\n");
    for (size_t i = 0; i < kStreams.size(); ++i) {
        if (kStreams[i] != "speech-a.mixed") {
            EXPECT_TRUE(IdOf(out + "/" + kStreams[i] + ".wav") == before[i]) << kStreams[i] << " was rewritten";
        }
    }
    EXPECT_TRUE(ReadFileBytes(out + "/speech-a.mixed.wav") == removedBytes);

    // Without the option every output is replaced (a new file each).
    run = RunCli("decode" + CorpusInputs() + " -j 2 -q -o " + Quote(out));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(IdOf(out + "/speech-a.63.wav") == before[0]);

    // One input, its output present: skipped with a note, or quietly with -q.
    run = RunCli("decode " + Quote(kCorpus + "speech-a.63.bit") + " --skip-existing -o " +
                 Quote(out + "/speech-a.63.wav"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "mervox: 1 input: 0 decoded, 1 skipped (output exists), 0 failed\n");
}

}  // namespace
}  // namespace mervox::test
