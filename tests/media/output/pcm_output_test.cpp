// PCM outputs: format by extension; a file output is complete or absent;
// descriptors, pipes and links are written through, never replaced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_test_support.h"
#include "output/pcm_output.h"
#include "test_support.h"

namespace mervox::media::output {
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

std::unique_ptr<PcmSink> Open(const std::string& path, PcmFormat format)
{
    base::Result<std::unique_ptr<PcmSink>> out = OpenPcmOutput(path, format);
    EXPECT_TRUE(out.ok()) << out.status().message();
    return out.ok() ? std::move(out.value()) : nullptr;
}

const int16_t kSamples[] = {0, 1, -1, 0x1234, -32768, 32767};
const std::vector<uint8_t> kSampleBytes = {0, 0, 1, 0, 0xff, 0xff, 0x34, 0x12, 0, 0x80, 0xff, 0x7f};

TEST(PcmOutput, ReplacesTheTargetOnlyAtFinish)
{
    const std::string dir = test::ScratchDir();
    const std::string path = dir + "/speech.raw";
    test::WriteFileBytes(path, {'o', 'l', 'd'});
    {
        auto out = Open(path, PcmFormat::kRaw);
        ASSERT_TRUE(out);
        ASSERT_TRUE(out->Write(kSamples, 6).ok());
        EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(test::ListDir(dir).size(), 2u);  // the target and the temporary file
    }                                              // destroyed without Finish
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{"speech.raw"});

    auto out = Open(path, PcmFormat::kRaw);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->Write(kSamples, 6).ok());
    const base::Status finished = out->Finish();
    ASSERT_TRUE(finished.ok()) << finished.message();
    EXPECT_EQ(out->samplesWritten(), 6u);
    EXPECT_EQ(test::ReadFileBytes(path), kSampleBytes);  // little-endian whatever the host
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{"speech.raw"});
    EXPECT_FALSE(out->Finish().ok());  // only once

    // Created with the usual permissions, not the temporary file's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    // Replacing a file keeps its permissions.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    out = Open(path, PcmFormat::kRaw);
    ASSERT_TRUE(out && out->Write(kSamples, 6).ok() && out->Finish().ok());
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(PcmOutput, WavHeaderIsCompletedInAFile)
{
    const std::string dir = test::ScratchDir();
    auto out = Open(dir + "/a.wav", PcmFormat::kWav);
    ASSERT_TRUE(out);
    // More than one 64 KiB block, so the header is rewritten after the data.
    std::vector<int16_t> samples(100000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i * 7);
    ASSERT_TRUE(out->Write(samples.data(), samples.size()).ok());
    ASSERT_TRUE(out->Finish().ok());
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir + "/a.wav");
    const test::WavFile wav = test::ParseWav(bytes);
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, bytes.size() - 8);
    EXPECT_EQ(wav.sampleRate, 8000u);
    EXPECT_TRUE(wav.samples == samples);
}

TEST(PcmOutput, WavRefusesMoreSamplesThanItsSizesCanCount)
{
    // 4 GiB of samples cannot be written in a test; a count past the limit
    // is refused before any sample is read, so a short buffer serves.
    const std::string dir = test::ScratchDir();
    const int16_t samples[240] = {};
    const uint64_t limit = MaxSamples(PcmFormat::kWav);
    EXPECT_EQ(limit * 2 + 36, 0xffffffffu - 1);  // the largest even data size a RIFF size can count
    EXPECT_EQ(MaxSamples(PcmFormat::kRaw), UINT64_MAX);
    auto out = Open(dir + "/long.wav", PcmFormat::kWav);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->Write(samples, 240).ok());
    EXPECT_TRUE(out->CheckRoom(limit - 240).ok());
    EXPECT_FALSE(out->CheckRoom(limit - 239).ok());
    const base::Status s = out->Write(samples, static_cast<size_t>(limit - 239));
    EXPECT_EQ(s.code(), base::kExitOutputError);
    EXPECT_NE(s.message().find("beyond what a WAV file can hold"), std::string::npos) << s.message();
    {
        // A stereo file's channels share the sizes: half as long, and said so.
        // Only a caller that has another output to offer suggests it.
        auto stereo = Open(dir + "/long-stereo.wav", PcmFormat::kWavStereo);
        ASSERT_TRUE(stereo);
        const std::string refused = stereo->CheckRoom(limit + 1).message();
        EXPECT_NE(refused.find(std::to_string(limit / 2) + " samples per channel (about 37 hours of stereo audio)"),
                  std::string::npos)
            << refused;
        EXPECT_EQ(refused.find("-f raw"), std::string::npos) << refused;
    }
    EXPECT_FALSE(out->Finish().ok());
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{});
}

TEST(PcmOutput, PipesAndLinksAreWrittenThroughNotReplaced)
{
    const std::string dir = test::ScratchDir();
    const int16_t samples[] = {0x0102, -2};
    const std::vector<uint8_t> expected = {0x02, 0x01, 0xfe, 0xff};

    // A named pipe: the reader gets the samples and the pipe stays a pipe.
    // The read end is opened first (without waiting for a writer), so the
    // output's open does not block and the bytes wait in the pipe.
    const std::string pipe = dir + "/pipe.wav";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int readEnd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    ASSERT_EQ(fcntl(readEnd, F_SETFL, 0), 0);
    {
        auto out = Open(pipe, PcmFormat::kWav);
        ASSERT_TRUE(out);
        EXPECT_TRUE(out->Write(samples, 2).ok() && out->Finish().ok());
    }
    std::vector<uint8_t> received(100);
    const ssize_t got = read(readEnd, received.data(), received.size());  // 0 if no writer ever came
    close(readEnd);
    received.resize(got > 0 ? static_cast<size_t>(got) : 0);
    // The header a pipe gets: its sizes are unknown when it is written.
    const auto header = WavHeader(8000, std::nullopt);
    ASSERT_EQ(received.size(), header.size() + expected.size());
    EXPECT_TRUE(std::equal(header.begin(), header.end(), received.begin()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), received.begin() + kWavHeaderBytes));
    EXPECT_EQ(std::vector<uint8_t>(received.begin() + 4, received.begin() + 8), std::vector<uint8_t>(4, 0xff));
    EXPECT_EQ(std::vector<uint8_t>(received.begin() + 40, received.begin() + 44), std::vector<uint8_t>(4, 0xff));
    struct stat st;
    ASSERT_EQ(lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A symbolic link: the file it points to gets the samples, the link stays.
    test::WriteFileBytes(dir + "/real.raw", {'o', 'l', 'd'});
    ASSERT_EQ(symlink("real.raw", (dir + "/link.raw").c_str()), 0);
    auto out = Open(dir + "/link.raw", PcmFormat::kRaw);
    ASSERT_TRUE(out && out->Write(samples, 2).ok() && out->Finish().ok());
    ASSERT_EQ(lstat((dir + "/link.raw").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::ReadFileBytes(dir + "/real.raw"), expected);

    // A dangling link (through a second link): its target is created.
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("sub/new.raw", (dir + "/dangling.raw").c_str()), 0);
    ASSERT_EQ(symlink("dangling.raw", (dir + "/chain.raw").c_str()), 0);
    out = Open(dir + "/chain.raw", PcmFormat::kRaw);
    ASSERT_TRUE(out && out->Write(samples, 2).ok() && out->Finish().ok());
    EXPECT_EQ(test::ReadFileBytes(dir + "/sub/new.raw"), expected);
    for (const char* link : {"/dangling.raw", "/chain.raw"}) {
        ASSERT_EQ(lstat((dir + link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    EXPECT_EQ(test::ListDir(dir),
              (std::vector<std::string>{"chain.raw", "dangling.raw", "link.raw", "pipe.wav", "real.raw", "sub"}));
}

TEST(PcmOutput, DescriptorPathsWriteThroughTheDescriptor)
{
    const std::string dir = test::ScratchDir();
    const std::string log = dir + "/log.txt";
    test::WriteFileBytes(log, {'b', 'e', 'f', 'o', 'r', 'e', '\n'});

    // Opened for appending (`>> log`): the earlier content stays, the header
    // keeps its unknown sizes (an appending descriptor cannot rewrite it).
    int fd = open(log.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    auto out = Open("/dev/fd/" + std::to_string(fd), PcmFormat::kWav);
    ASSERT_TRUE(out && out->Write(kSamples, 6).ok() && out->Finish().ok());
    EXPECT_EQ(fcntl(fd, F_GETFD), 0);  // still open: the sink does not own it
    close(fd);
    std::vector<uint8_t> bytes = test::ReadFileBytes(log);
    ASSERT_EQ(bytes.size(), 7 + kWavHeaderBytes + 12);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 11), "before\nRIFF");
    EXPECT_EQ(bytes[7 + 40], 0xff);

    // Not appending, past earlier content (`{ echo before; mervox ...; } > f`):
    // the header at the descriptor's offset gets its sizes at the end.
    test::WriteFileBytes(log, {});
    fd = open(log.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_EQ(write(fd, "before\n", 7), 7);
    out = Open("/proc/self/fd/" + std::to_string(fd), PcmFormat::kWav);
    ASSERT_TRUE(out && out->Write(kSamples, 6).ok() && out->Finish().ok());
    ASSERT_EQ(write(fd, "after\n", 6), 6);
    close(fd);
    bytes = test::ReadFileBytes(log);
    ASSERT_EQ(bytes.size(), 7 + kWavHeaderBytes + 12 + 6);
    const test::WavFile wav = test::ParseWav(std::vector<uint8_t>(bytes.begin() + 7, bytes.end() - 6));
    ASSERT_TRUE(wav.valid);
    EXPECT_TRUE(wav.samples == std::vector<int16_t>(std::begin(kSamples), std::end(kSamples)));
    EXPECT_EQ(std::string(bytes.end() - 6, bytes.end()), "after\n");
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{"log.txt"});

    // A descriptor that is not open.
    base::Result<std::unique_ptr<PcmSink>> closed = OpenPcmOutput("/dev/fd/999", PcmFormat::kRaw);
    ASSERT_FALSE(closed.ok());
    EXPECT_EQ(closed.status().message(), "/dev/fd/999: cannot write output: Bad file descriptor");
}

TEST(PcmOutput, LongNamesFitTheirTemporaryName)
{
    const std::string dir = test::ScratchDir();
    const std::string name = std::string(246, 'n') + ".wav";  // 250 characters, the limit is 255
    auto out = Open(dir + "/" + name, PcmFormat::kWav);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->Write(kSamples, 6).ok());
    ASSERT_TRUE(out->Finish().ok());
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{name});
}

}  // namespace
}  // namespace mervox::media::output
