// Leftovers of a crashed run: the scratch files of a process that has
// ended, last written before this run began, are removed, whatever the
// prefix's name (none, long, with dashes and digits, date fields); those
// of a running process or written since, and other names, are kept. The
// names the writer makes, and the temporaries it writes them in, are those
// the cleaner knows.
#include "output/scratch_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "output/pcm_output.h"
#include "platform/paths.h"

namespace mervox::media::output {
namespace {

TEST(ScratchFiles, OnlyThoseOfEndedRunsWrittenBeforeTheStartAreRemoved)
{
    const std::string dir = test::ScratchDir() + "/";
    // A process number nobody has now (until the system gives it again).
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    const unsigned long dead = static_cast<unsigned long>(ended);
    const std::string deadText = std::to_string(dead);

    const auto started = std::chrono::system_clock::now();
    const time_t before = std::chrono::system_clock::to_time_t(started) - 3600;
    const time_t after = std::chrono::system_clock::to_time_t(started) + 3600;
    struct File {
        std::string path;
        time_t written;
        bool removed;
    };
    std::vector<File> files = {
        {ScratchPath(dir + "calls", dead, 1), before, true},
        {ScratchPath(dir, dead, 3), before, true},  // `-o DIR/`: no name
        {ScratchPath(dir + std::string(200, 'n'), dead, 7), before, true},
        {ScratchPath(dir + "my-call-7", dead, 12), before, true},
        {ScratchPath(dir + "%Y/%m/%d/day", dead, 5), before, true},  // beside the dated folders
        {ScratchPath(dir + "calls", dead, 2), after, false},
        {ScratchPath(dir + "calls", static_cast<unsigned long>(getpid()), 1), before, false},
        {ScratchPath(dir + "calls", static_cast<unsigned long>(getppid()), 1), before, false},
        {dir + ".calls-" + deadText + "-stream-x.raw", before, false},
        {dir + ".calls-" + deadText + "-stream-1.wav", before, false},
        {dir + ".calls--stream-1.raw", before, false},
        {dir + "calls-" + deadText + "-stream-1.raw", before, false},
        {dir + ".hidden", before, false},
    };
    // The temporary the writer keeps a scratch file in until its stream ends.
    base::Result<std::unique_ptr<PcmSink>> sink =
        OpenScratchOutput(ScratchPath(dir + "calls", dead, 9), PcmFormat::kRaw);
    ASSERT_TRUE(sink.ok());
    const int16_t samples[4] = {1, 2, 3, 4};
    ASSERT_TRUE(sink.value()->Write(samples, 4).ok());
    const std::vector<std::string> written = test::ListDir(dir);
    ASSERT_EQ(written.size(), 1u);
    files.push_back({dir + written[0], before, true});

    size_t removable = 0;
    for (const File& f : files) {
        if (f.path != dir + written[0])
            test::WriteFileBytes(f.path, {1, 2, 3, 4});
        const timespec times[2] = {{f.written, 0}, {f.written, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, f.path.c_str(), times, 0), 0) << f.path;
        removable += f.removed;
    }
    const StaleScratch stale = RemoveStaleScratchFiles(dir + "%Y/%m/%d/calls", started);
    EXPECT_EQ(stale.removed, removable);
    EXPECT_EQ(stale.error, 0);
    for (const File& f : files)
        EXPECT_EQ(test::FileExists(f.path), !f.removed) << platform::BaseName(f.path);
    // A directory not made yet holds none.
    const StaleScratch none = RemoveStaleScratchFiles(dir + "later/calls", started);
    EXPECT_EQ(none.removed, 0u);
    EXPECT_EQ(none.error, 0);
}

}  // namespace
}  // namespace mervox::media::output
