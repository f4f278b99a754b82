// Every way `mervox` can fail: a one-line error naming the file (and byte
// offset where there is one), the documented exit status, and no output
// file that looks complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::test {
namespace {

const std::string kStream = DataPath("corpus/speech-a.63.bit");

void ExpectOneErrorLine(const CliRun& run, const std::string& mentions)
{
    EXPECT_EQ(CountLines(run.err), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("mervox: error: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(mentions), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(CliInputErrors, MissingUnreadableAndEmptyInputs)
{
    const std::string dir = ScratchDir();
    const std::string out = dir + "/out.wav";

    CliRun run = RunCli("decode '" + dir + "/absent.bit' -o '" + out + "'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, dir + "/absent.bit: cannot open");

    std::filesystem::create_directory(dir + "/folder.bit");
    run = RunCli("decode '" + dir + "/folder.bit' -o '" + out + "'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, dir + "/folder.bit: byte 0: read failed");

    WriteFileBytes(dir + "/empty.bit", {});
    run = RunCli("decode '" + dir + "/empty.bit' -o '" + out + "'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, dir + "/empty.bit: byte 0: empty input");
    run = RunCli("info '" + dir + "/empty.bit'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, "empty.bit: byte 0");

    // Ten bytes of a 24-byte frame: no whole frame at all.
    WriteFileBytes(dir + "/stub.bit", std::vector<uint8_t>(10, 0));
    run = RunCli("decode '" + dir + "/stub.bit' -o '" + out + "'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, "stub.bit: byte 0: truncated last frame (10 of 24 bytes), no whole frame");
    run = RunCli("info '" + dir + "/stub.bit'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, "stub.bit: byte 0: truncated last frame (10 of 24 bytes), no whole frame");

    run = RunCli("decode '" + kStream + "' --loss '" + dir + "/absent.loss' -o '" + out + "'");
    EXPECT_EQ(run.status, 1);
    ExpectOneErrorLine(run, dir + "/absent.loss: cannot open");

    EXPECT_FALSE(FileExists(out));
}

TEST(CliInputErrors, TruncatedLastFrameWarnsAndDecodesTheWholeFrames)
{
    const std::string dir = ScratchDir();
    std::vector<uint8_t> stream = ReadFileBytes(kStream);
    stream.resize(100 * 24 + 7);
    WriteFileBytes(dir + "/cut.bit", stream);

    CliRun run = RunCli("decode '" + dir + "/cut.bit' -o '" + dir + "/cut.wav'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "mervox: warning: " + dir +
                           "/cut.bit: byte 2400: truncated last frame (7 of 24 bytes); decoding the 100 whole "
                           "frames before it\n");
    const WavFile wav = ParseWav(ReadFileBytes(dir + "/cut.wav"));
    EXPECT_EQ(wav.samples.size(), 100u * 240);
    stream.resize(100 * 24);
    EXPECT_TRUE(wav.samples == DecodeWithLegacyApi(stream));

    run = RunCli("--quiet decode '" + dir + "/cut.bit' -o '" + dir + "/quiet.wav'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    run = RunCli("decode '" + dir + "/cut.bit' -o '" + dir + "/quiet.wav' -q");
    EXPECT_EQ(run.err, "");
}

TEST(CliOutputErrors, FailuresLeaveNoFileBehindAndKeepAnOldOne)
{
    const std::string dir = ScratchDir();
    const std::string out = dir + "/out.wav";
    WriteFileBytes(out, {'o', 'l', 'd'});

    CliRun run = RunCli("decode '" + kStream + "' -o '" + dir + "/out.mp3'");
    EXPECT_EQ(run.status, 2);
    ExpectOneErrorLine(run, dir + "/out.mp3: unknown output extension");

    run = RunCli("decode '" + kStream + "' -o '" + dir + "/missing/out.wav'");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, dir + "/missing/out.wav: cannot create");

    WriteFileBytes(dir + "/empty.bit", {});
    run = RunCli("decode '" + dir + "/empty.bit' -o '" + out + "'");
    EXPECT_EQ(run.status, 1);

    // The file system refuses the output half way (file size limit; the
    // signal ignored, so writes fail with EFBIG instead).
    run = RunCli("decode '" + kStream + "' -o '" + out + "'", "", "trap '' XFSZ; ulimit -f 64;");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, out + ": write failed");

    EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"empty.bit", "out.wav"}));

    run = RunCli("decode '" + kStream + "' -o -", "", "", "/dev/full");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, "<stdout>: write failed");
    run = RunCli("info '" + kStream + "'", "", "", "/dev/full");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, "<stdout>: write failed: No space left on device");
    run = RunCli("info --json '" + kStream + "'", "", "", "/dev/full");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, "<stdout>: write failed: No space left on device");
}

TEST(CliOutputErrors, TheWavLimitIsFoundBeforeDecoding)
{
    // One frame more than 74 hours of WAV can hold, as one-byte
    // untransmitted frames: refused at once, before anything is written.
    const std::string dir = ScratchDir();
    const size_t maxFrames = (0xffffffffu - 36) / 2 / 240;
    WriteFileBytes(dir + "/long.bit", std::vector<uint8_t>(maxFrames + 1, 0x03));
    CliRun run = RunCli("decode '" + dir + "/long.bit' -o '" + dir + "/long.wav'", "", "timeout -s KILL 60");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, dir + "/long.wav: " + std::to_string(maxFrames + 1) + " frames (" +
                                std::to_string((maxFrames + 1) * 240) + " samples) are more than a WAV file can hold");
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"long.bit"});
}

TEST(CliOutputErrors, AReadOnlyFileIsNotReplaced)
{
    // Root may write any file; the refusal is for users the mode denies.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the command as an unprivileged user (setpriv)";
    // The unprivileged user may not reach the build tree (it may sit in
    // root's home), so the command and its input are copied to a folder of
    // this test's own that everyone may enter.
    char pattern[] = "/tmp/mervox-unprivileged-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string cli = dir + "/mervox", stream = dir + "/in.bit", outDir = dir + "/out";
    namespace fs = std::filesystem;
    fs::copy_file(MERVOX_CLI_PATH, cli);
    fs::copy_file(kStream, stream);
    fs::create_directory(outDir);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(cli.c_str(), 0755), 0);
    ASSERT_EQ(chmod(stream.c_str(), 0644), 0);
    ASSERT_EQ(chmod(outDir.c_str(), 0777), 0);
    const std::string out = outDir + "/out.wav";
    WriteFileBytes(out, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(out.c_str(), 0444), 0);
    const CliRun run = RunCli("decode '" + stream + "' -o '" + out + "'", "",
                              "setpriv --reuid=65534 --regid=65534 --clear-groups", "", cli);
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, out + ": cannot replace the existing file: Permission denied");
    EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(ListDir(outDir), std::vector<std::string>{"out.wav"});
    fs::remove_all(dir);
}

TEST(CliOutputErrors, RunningOutOfMemoryIsAnErrorNotACrash)
{
    // Every allocation of 64 KiB or more fails (the reader's first block).
    if (kSanitized)
        GTEST_SKIP() << "the sanitizers' allocator cannot be replaced by a preloaded one";
    const std::string dir = ScratchDir();
    const CliRun run =
        RunCli("decode '" + kStream + "' -o '" + dir + "/out.wav'", "", "LD_PRELOAD='" MERVOX_FAILING_MALLOC "'");
    EXPECT_EQ(run.status, 4);
    ExpectOneErrorLine(run, "mervox: error: out of memory");
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{});
}

TEST(CliNames, ControlCharactersInNamesAreEscaped)
{
    const std::string dir = ScratchDir();
    WriteFileBytes(dir + "/a\nb\x1b[31m.bit", ReadFileBytes(kStream));
    CliRun run = RunCli("info \"$(printf '" + dir + "/a\\nb\\033[31m.bit')\"");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("file:               " + dir + "/a\\nb\\x1b[31m.bit\n"), std::string::npos) << run.out;
    run = RunCli("decode \"$(printf '" + dir + "/a\\nb\\033[31m.bit')\" -o \"$(printf '" + dir + "/none/x\\ny.wav')\"");
    EXPECT_EQ(run.status, 3);
    ExpectOneErrorLine(run, dir + "/none/x\\ny.wav: cannot create output");
}

TEST(CliUsage, HelpVersionAndBadCommandLines)
{
    CliRun run = RunCli("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("decode"), std::string::npos);
    EXPECT_NE(run.out.find("info"), std::string::npos);
    run = RunCli("decode --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--drop-rate"), std::string::npos);

    run = RunCli("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "mervox " MERVOX_EXPECTED_VERSION "\n");

    // What was wrong, named.
    run = RunCli("frobnicate x.bit");
    EXPECT_EQ(run.status, 2);
    ExpectOneErrorLine(run, "unknown subcommand 'frobnicate'");
    run = RunCli("-q frobnicate");
    EXPECT_EQ(run.status, 2);
    ExpectOneErrorLine(run, "unknown subcommand 'frobnicate'");
    run = RunCli("decode '" + kStream + "' --drop-rate 0.5abc -o -");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("'0.5abc' is not a number"), std::string::npos) << run.err;
    run = RunCli("decode '" + kStream + "' --drop-rate 1.5 -o -");
    EXPECT_NE(run.err.find("drop rate must be from 0 to 1"), std::string::npos) << run.err;
    run = RunCli("decode - --loss - -o -", kStream);
    EXPECT_EQ(run.status, 2);
    ExpectOneErrorLine(run, "the stream and the loss mask cannot both be read from stdin");

    for (const std::string& args : std::vector<std::string>{
             "", "transcode x.bit", "decode", "decode '" + kStream + "' --bogus",
             "decode '" + kStream + "' --drop-rate 1.5", "decode '" + kStream + "' --drop-rate nan -o -",
             "decode '" + kStream + "' --seed -5 -o -", "decode '" + kStream + "' --seed 18446744073709551616 -o -",
             "decode '" + kStream + "' -o x.wav --format mp3"}) {
        run = RunCli(args);
        EXPECT_EQ(run.status, 2) << "mervox " << args;
        EXPECT_NE(run.err, "") << "mervox " << args;
    }
}

}  // namespace
}  // namespace mervox::test
