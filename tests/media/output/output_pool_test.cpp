// Many outputs at once through an OutputPool: within its limits on open
// files and held samples, each file is complete with its own samples in
// order; a parked file reopens where it was, and only if it is still the
// same file; a refused open makes room by parking another.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "output/output_pool.h"
#include "output/pcm_output.h"
#include "test_support.h"

namespace mervox::media::output {
namespace {

size_t OpenDescriptors()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

// Frame `n` of output `k`: 240 samples of its own.
std::vector<int16_t> FrameOf(size_t k, size_t n)
{
    std::vector<int16_t> pcm(240);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(k * 1009 + n * 241 + i * 7);
    return pcm;
}

TEST(OutputPool, ManyOutputsStayWithinTheLimits)
{
    const std::string dir = test::ScratchDir();
    // 4 files open, 2 frames held per output, 10 in all.
    OutputPool pool({4, 960, 4800});
    constexpr size_t kOutputs = 300;
    const size_t before = OpenDescriptors();
    for (size_t k = 0; k < kOutputs; ++k)
        pool.Add(k, dir + "/out-" + std::to_string(k) + ".wav");
    // Interleaved, as streams are decoded: output k gets k % 7 frames.
    size_t mostOpen = 0;
    for (size_t n = 0; n < 6; ++n) {
        for (size_t k = 0; k < kOutputs; ++k) {
            if (n >= k % 7)
                continue;
            const std::vector<int16_t> pcm = FrameOf(k, n);
            ASSERT_TRUE(pool.Write(k, pcm.data(), pcm.size()).ok());
            EXPECT_LE(pool.openFiles(), 4u);
            EXPECT_LE(pool.heldBytes(), 4800u);
            mostOpen = std::max(mostOpen, OpenDescriptors() - before);
        }
    }
    EXPECT_LE(mostOpen, 4u);
    EXPECT_GT(mostOpen, 0u);
    pool.Abandon(5);  // nothing of it is left
    for (size_t k = 0; k < kOutputs; ++k) {
        if (k == 5)
            continue;
        const base::Status s = pool.Finish(k);
        ASSERT_TRUE(s.ok()) << s.message();
    }
    EXPECT_EQ(pool.outputs(), 0u);
    EXPECT_EQ(pool.openFiles(), 0u);
    EXPECT_EQ(pool.heldBytes(), 0u);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(test::ListDir(dir).size(), kOutputs - 1);  // no temporary file left
    for (size_t k = 0; k < kOutputs; ++k) {
        const std::string path = dir + "/out-" + std::to_string(k) + ".wav";
        if (k == 5) {
            EXPECT_NE(access(path.c_str(), F_OK), 0);
            continue;
        }
        const test::WavFile wav = test::ParseWav(test::ReadFileBytes(path));
        ASSERT_TRUE(wav.valid) << path;
        std::vector<int16_t> expected;
        for (size_t n = 0; n < k % 7; ++n) {
            const std::vector<int16_t> pcm = FrameOf(k, n);
            expected.insert(expected.end(), pcm.begin(), pcm.end());
        }
        EXPECT_TRUE(wav.samples == expected) << path;
    }
}

TEST(OutputPool, AParkedFileReopensOnlyIfItIsStillItsOwn)
{
    const std::string dir = test::ScratchDir();
    OutputPool pool({1, 480, 1 << 20});  // one file open; opened past one frame
    pool.Add(1, dir + "/a.wav");
    pool.Add(2, dir + "/b.wav");
    const std::vector<int16_t> pcm = FrameOf(0, 0);
    for (size_t n = 0; n < 2; ++n)
        ASSERT_TRUE(pool.Write(1, pcm.data(), pcm.size()).ok());  // a is open
    for (size_t n = 0; n < 2; ++n)
        ASSERT_TRUE(pool.Write(2, pcm.data(), pcm.size()).ok());  // b is open, a parked
    // a's temporary file replaced by another while a is parked.
    std::string temporary;
    for (const std::string& name : test::ListDir(dir))
        if (name.rfind(".a.wav.", 0) == 0)
            temporary = dir + "/" + name;
    ASSERT_FALSE(temporary.empty());
    ASSERT_EQ(unlink(temporary.c_str()), 0);
    test::WriteFileBytes(temporary, {'x'});
    base::Status s;
    for (size_t n = 0; n < 2 && s.ok(); ++n)
        s = pool.Write(1, pcm.data(), pcm.size());
    EXPECT_EQ(s.code(), base::kExitOutputError);
    EXPECT_NE(s.message().find("was replaced"), std::string::npos) << s.message();
    EXPECT_TRUE(pool.Finish(2).ok());
    EXPECT_EQ(test::ListDir(dir), std::vector<std::string>{"b.wav"});
}

TEST(OutputPool, ARefusedOpenParksAnotherFile)
{
    const std::string dir = test::ScratchDir();
    OutputPool* self = nullptr;
    size_t refused = 0;
    // The system allows two files at once, fewer than the pool's limit.
    OutputPool pool({50, 480, 1 << 20}, [&](const std::string& path) -> base::Result<std::unique_ptr<PcmSink>> {
        if (self->openFiles() >= 2) {
            ++refused;
            return base::Status::SystemFailure(base::kExitOutputError, path + ": cannot create output", EMFILE);
        }
        return OpenPcmOutput(path, PcmFormat::kWav);
    });
    self = &pool;
    for (size_t k = 0; k < 10; ++k)
        pool.Add(k, dir + "/" + std::to_string(k) + ".wav");
    for (size_t n = 0; n < 3; ++n)
        for (size_t k = 0; k < 10; ++k) {
            const std::vector<int16_t> pcm = FrameOf(k, n);
            ASSERT_TRUE(pool.Write(k, pcm.data(), pcm.size()).ok());
            EXPECT_LE(pool.openFiles(), 2u);
        }
    for (size_t k = 0; k < 10; ++k)
        ASSERT_TRUE(pool.Finish(k).ok());
    EXPECT_GT(refused, 0u);
    for (size_t k = 0; k < 10; ++k)
        EXPECT_EQ(test::ParseWav(test::ReadFileBytes(dir + "/" + std::to_string(k) + ".wav")).samples.size(), 720u);
}

}  // namespace
}  // namespace mervox::media::output
