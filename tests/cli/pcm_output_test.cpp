// PcmOutput: format by extension, nothing visible before Commit, nothing
// left behind without it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_test_support.h"
#include "pcm_output.h"
#include "test_support.h"

namespace mervox::cli {
namespace {

TEST(PcmOutput, FormatFromExtension)
{
    EXPECT_EQ(PcmFormatFromPath("a/b.wav"), PcmFormat::kWav);
    EXPECT_EQ(PcmFormatFromPath("B.WAV"), PcmFormat::kWav);
    EXPECT_EQ(PcmFormatFromPath("x.raw"), PcmFormat::kRaw);
    EXPECT_EQ(PcmFormatFromPath("x.Pcm"), PcmFormat::kRaw);
    EXPECT_EQ(PcmFormatFromPath("-"), PcmFormat::kWav);
    EXPECT_EQ(PcmFormatFromPath("x.mp3"), std::nullopt);
    EXPECT_EQ(PcmFormatFromPath("wav"), std::nullopt);
    EXPECT_EQ(PcmFormatFromPath("x.wav.tmp"), std::nullopt);
    EXPECT_EQ(PcmFormatFromName("RAW"), PcmFormat::kRaw);
    EXPECT_EQ(PcmFormatFromName("flac"), std::nullopt);
}

TEST(PcmOutput, ReplacesTheTargetOnlyAtCommit)
{
    const std::string dir = test::ScratchDir();
    const std::string path = dir + "/speech.raw";
    test::WriteFileBytes(path, {'o', 'l', 'd'});
    const int16_t samples[] = {0, 1, -1, 0x1234, -32768, 32767};
    std::string error;
    {
        auto out = PcmOutput::Open(path, PcmFormat::kRaw, 8000, &error);
        ASSERT_TRUE(out) << error;
        ASSERT_TRUE(out->Write(samples, 6));
        EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(test::ListDir(dir).size(), 2u);  // the target and the temporary file
    }  // destroyed without Commit
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{"speech.raw"});

    auto out = PcmOutput::Open(path, PcmFormat::kRaw, 8000, &error);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->Write(samples, 6));
    ASSERT_TRUE(out->Commit()) << out->error();
    EXPECT_EQ(out->samplesWritten(), 6u);
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{0, 0, 1, 0, 0xff, 0xff, 0x34, 0x12, 0, 0x80, 0xff, 0x7f}));
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{"speech.raw"});
    EXPECT_FALSE(out->Commit());  // only once

    // Created with the usual permissions, not the temporary file's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    // Replacing a file keeps its permissions.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    out = PcmOutput::Open(path, PcmFormat::kRaw, 8000, &error);
    ASSERT_TRUE(out && out->Write(samples, 6) && out->Commit());
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(PcmOutput, WavRefusesMoreSamplesThanItsSizesCanCount)
{
    // 4 GiB of samples cannot be written in a test; a count past the limit
    // is refused before any sample is read, so a short buffer serves.
    const std::string dir = test::ScratchDir();
    const int16_t samples[240] = {};
    const uint64_t limit = PcmOutput::MaxSamples(PcmFormat::kWav);
    EXPECT_EQ(limit * 2 + 36, 0xffffffffu - 1);  // the largest even data size a RIFF size can count
    EXPECT_EQ(PcmOutput::MaxSamples(PcmFormat::kRaw), UINT64_MAX);
    std::string error;
    auto out = PcmOutput::Open(dir + "/long.wav", PcmFormat::kWav, 8000, &error);
    ASSERT_TRUE(out) << error;
    ASSERT_TRUE(out->Write(samples, 240));
    EXPECT_FALSE(out->Write(samples, static_cast<size_t>(limit - 239)));
    EXPECT_NE(out->error().find("beyond what a WAV file can hold"), std::string::npos) << out->error();
    EXPECT_FALSE(out->Commit());
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{});
}

TEST(PcmOutput, PipesAndLinksAreWrittenThroughNotReplaced)
{
    const std::string dir = test::ScratchDir();
    const int16_t samples[] = {0x0102, -2};
    const std::vector<uint8_t> expected = {0x02, 0x01, 0xfe, 0xff};
    std::string error;

    // A named pipe: the reader gets the samples and the pipe stays a pipe.
    // The read end is opened first (without waiting for a writer), so the
    // output's open does not block and the bytes wait in the pipe.
    const std::string pipe = dir + "/pipe.raw";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int readEnd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    ASSERT_EQ(fcntl(readEnd, F_SETFL, 0), 0);
    {
        auto out = PcmOutput::Open(pipe, PcmFormat::kRaw, 8000, &error);
        ASSERT_TRUE(out) << error;
        EXPECT_TRUE(out->Write(samples, 2) && out->Commit()) << out->error();
    }
    std::vector<uint8_t> received(16);
    const ssize_t got = read(readEnd, received.data(), received.size());  // 0 if no writer ever came
    close(readEnd);
    received.resize(got > 0 ? static_cast<size_t>(got) : 0);
    EXPECT_EQ(received, expected);
    struct stat st;
    ASSERT_EQ(lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A symbolic link: the file it points to gets the samples, the link stays.
    test::WriteFileBytes(dir + "/real.raw", {'o', 'l', 'd'});
    ASSERT_EQ(symlink("real.raw", (dir + "/link.raw").c_str()), 0);
    auto out = PcmOutput::Open(dir + "/link.raw", PcmFormat::kRaw, 8000, &error);
    ASSERT_TRUE(out) << error;
    ASSERT_TRUE(out->Write(samples, 2) && out->Commit()) << out->error();
    ASSERT_EQ(lstat((dir + "/link.raw").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::ReadFileBytes(dir + "/real.raw"), expected);
    EXPECT_EQ(test::ListDir(dir), (std::vector<std::string>{"link.raw", "pipe.raw", "real.raw"}));
}

}  // namespace
}  // namespace mervox::cli
