#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/process.h"

namespace mervox::media::platform {
namespace {

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
// Those that a graceful stop turns into a request to finish.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
void (*g_cleanup)() = nullptr;

// Stop requests so far, and the pipe whose read end turns readable at the
// first (its write end written by the handler, never read: it stays
// readable).
std::atomic<unsigned> g_stopRequests{0};
int g_stopPipe[2] = {-1, -1};
static_assert(std::atomic<unsigned>::is_always_lock_free, "used in a signal handler");

void CleanUpAndDie(int signal)
{
    if (g_cleanup)
        g_cleanup();
    // SA_RESETHAND has restored the default action: deliver the signal
    // again once this handler returns, so the exit status tells the signal.
    raise(signal);
}

void StopOrDie(int signal)
{
    if (g_stopRequests.fetch_add(1) == 0) {
        const int saved = errno;
        const char byte = 1;
        if (write(g_stopPipe[1], &byte, 1) < 0) {
            // Full or closed: readable already, or nobody is waiting.
        }
        errno = saved;
        return;
    }
    // The second: as without a graceful stop. Its default action is
    // restored and it is raised again, delivered when this handler returns
    // (it is blocked until then).
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    CleanUpAndDie(signal);
}

// Whether `signal` has the action it had when the process started, or
// one of ours: neither ignored nor handled by the host.
bool OursToHandle(int signal)
{
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO))
        return false;
    return current.sa_handler == SIG_DFL || current.sa_handler == &CleanUpAndDie || current.sa_handler == &StopOrDie;
}

void Handle(int signal, void (*handler)(int), int flags)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    // The cleanup runs once, whichever signals come together.
    sigemptyset(&action.sa_mask);
    for (const int other : kTerminationSignals)
        sigaddset(&action.sa_mask, other);
    action.sa_flags = flags;
    sigaction(signal, &action, nullptr);
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
        // Ignored (e.g. `trap '' XFSZ`, nohup), handled by the host, or
        // already a graceful stop's.
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO))
            continue;
        Handle(signal, &CleanUpAndDie, static_cast<int>(SA_RESETHAND));
    }
}

void InstallGracefulStop()
{
    if (g_stopPipe[0] < 0) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return;  // no descriptors left: the signals end the process as before
        g_stopPipe[0] = ends[0];
        g_stopPipe[1] = ends[1];
    }
    for (const int signal : kStopSignals)
        if (OursToHandle(signal))
            Handle(signal, &StopOrDie, SA_RESTART);
}

bool StopRequested() { return g_stopRequests.load() != 0; }

int StopDescriptor() { return g_stopPipe[0]; }

struct StoppableReader::Waiter {};

StoppableReader::StoppableReader(int fd) : fd_(fd) {}

StoppableReader::~StoppableReader() = default;

long long StoppableReader::Read(void* buffer, size_t size)
{
    for (;;) {
        if (StopRequested())
            return kReadStopped;
        // Until there is something to read (at once for a file) or a stop,
        // whichever thread the signal went to.
        const int stop = StopDescriptor();
        if (stop >= 0) {
            pollfd watched[2] = {{fd_, POLLIN, 0}, {stop, POLLIN, 0}};
            if (poll(watched, 2, -1) < 0 && errno != EINTR)
                return -1;
            if (watched[0].revents == 0)
                continue;  // the stop, or a signal: looked at above
        }
        const ssize_t got = read(fd_, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool ProcessRunning(unsigned long id)
{
    // Not a number any process has: nothing that could be running.
    if (id == 0 || id > static_cast<unsigned long>(std::numeric_limits<pid_t>::max()))
        return false;
    return kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
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
