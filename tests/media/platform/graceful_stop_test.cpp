// The two stages of a stop, in a child process waiting for input on a pipe
// (StoppableReader): the first SIGINT, SIGTERM or SIGHUP ends the wait
// and nothing else (the child goes on with its temporary file, and exits 0
// once it has written another); a second signal, or SIGXFSZ, removes the
// temporary files and ends the child by that signal; a signal ignored
// before stays ignored. A read on a thread that blocks the signals (as a
// command's threads leave them to any other) ends all the same.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_support.h"
#include "forked_child.h"
#include "output/temporary_files.h"
#include "platform/files.h"
#include "platform/process.h"

namespace mervox::media::platform {
namespace {

struct Step {
    int signal;
    bool endsRead;  // the child reports its read ended by the stop
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    int endSignal = 0;  // 0: the child finishes and exits 0
    bool readOnThread = false;
    bool intIgnored = false;
};

void Touch(const std::string& path)
{
    if (std::FILE* f = std::fopen(path.c_str(), "wb"))
        std::fclose(f);
}

int Child(int report, int input, int finish, const std::string& dir, const Case& c)
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
        signal(s, SIG_DFL);
    if (c.intIgnored)
        signal(SIGINT, SIG_IGN);
    output::InstallTemporaryFileCleanup();
    InstallGracefulStop();
    Touch(dir + "/.partial");
    output::TemporaryFileRegistration registration(dir + "/.partial");
    const auto readInput = [&] {
        char byte = 0;
        StoppableReader reader(input);
        const long long got = reader.Read(&byte, 1);
        test::Say(report, got == kReadStopped && StopRequested() ? "stopped" : "read " + std::to_string(got));
    };
    test::Say(report, "ready");
    if (c.readOnThread) {
        // Blocked on the reading thread: the signals go to this one.
        sigset_t all, before;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before);
        std::thread reader(readInput);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        reader.join();
    } else {
        readInput();
    }
    // Finishing the outputs, until the test closes `finish`.
    char byte = 0;
    while (read(finish, &byte, 1) > 0) {
    }
    Touch(dir + "/finished");
    return 0;
}

TEST(GracefulStop, FirstRequestEndsTheWaitSecondEndsTheProcess)
{
    const std::vector<Case> cases = {
        {"SIGTERM", {{SIGTERM, true}}},
        {"SIGINT, read on a thread", {{SIGINT, true}}, 0, true},
        {"SIGHUP", {{SIGHUP, true}}},
        {"SIGTERM then SIGINT", {{SIGTERM, true}, {SIGINT, false}}, SIGINT},
        {"SIGINT twice, read on a thread", {{SIGINT, true}, {SIGINT, false}}, SIGINT, true},
        {"SIGXFSZ", {{SIGXFSZ, false}}, SIGXFSZ},
        {"SIGINT ignored, then SIGTERM", {{SIGINT, false}, {SIGTERM, true}}, 0, false, true},
    };
    for (const Case& c : cases) {
        const std::string dir = test::ScratchDir();
        int input[2], finish[2];
        ASSERT_EQ(pipe(input), 0);
        ASSERT_EQ(pipe(finish), 0);
        test::ForkedChild child([&](int report) {
            close(input[1]);
            close(finish[1]);
            return Child(report, input[0], finish[0], dir, c);
        });
        close(input[0]);
        close(finish[0]);
        ASSERT_EQ(child.Line(), "ready") << c.name;
        // Most likely waiting by now; the outcome must not depend on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (const Step& step : c.steps) {
            child.Signal(step.signal);
            if (step.endsRead) {
                EXPECT_EQ(child.Line(), "stopped") << c.name;
            }
        }
        if (c.endSignal == 0)
            close(finish[1]);
        const test::ForkedChild::End end = child.Wait();
        if (c.endSignal != 0)
            close(finish[1]);
        close(input[1]);
        EXPECT_EQ(end.signal, c.endSignal) << c.name;
        EXPECT_EQ(end.status, c.endSignal == 0 ? 0 : -1) << c.name;
        // A stop keeps the temporary file (the command completes it); an
        // ending removes it.
        EXPECT_EQ(test::FileExists(dir + "/.partial"), c.endSignal == 0) << c.name;
        EXPECT_EQ(test::FileExists(dir + "/finished"), c.endSignal == 0) << c.name;
    }
}

}  // namespace
}  // namespace mervox::media::platform
#endif
