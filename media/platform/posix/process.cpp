#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"

namespace mervox::media::platform {
namespace {

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
void (*g_cleanup)() = nullptr;

void CleanUpAndDie(int signal)
{
    g_cleanup();
    // SA_RESETHAND has restored the default action: deliver the signal
    // again once this handler returns, so the exit status tells the signal.
    raise(signal);
}

static_assert(sizeof(sigset_t) <= 128, "TerminationHeld keeps a signal mask");

}  // namespace

CommandLine::CommandLine(int argc, char** argv) : words_(argv, argv + argc)
{
    // A reader that goes away (`| head`) shows as EPIPE, a normal end.
    signal(SIGPIPE, SIG_IGN);
    for (std::string& word : words_)
        pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
}

unsigned UsableProcessors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 0;
    return static_cast<unsigned>(CPU_COUNT(&set));
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

CommandLine::~CommandLine() = default;

void InstallTerminationCleanup(void (*cleanup)())
{
    g_cleanup = cleanup;
    for (const int signal : kTerminationSignals) {
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO))
            continue;  // ignored (e.g. `trap '' XFSZ`, nohup) or handled by the host
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = &CleanUpAndDie;
        sigemptyset(&action.sa_mask);
        for (const int other : kTerminationSignals)
            sigaddset(&action.sa_mask, other);
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        sigaction(signal, &action, nullptr);
    }
}

TerminationHeld::TerminationHeld()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kTerminationSignals)
        sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(state_));
}

TerminationHeld::~TerminationHeld() { pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(state_), nullptr); }

void InterruptIfTesting()
{
    static std::atomic<bool> done{false};
    const char* hook = std::getenv("MERVOX_TEST_INTERRUPT");
    if (!hook || std::strcmp(hook, "1") != 0 || done.exchange(true))
        return;
    raise(SIGINT);
}

}  // namespace mervox::media::platform
