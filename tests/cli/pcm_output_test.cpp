// PcmOutput: format by extension, nothing visible before Commit, nothing
// left behind without it.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
}

}  // namespace
}  // namespace mervox::cli
