#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/windows/wide.h"

namespace mervox::media::platform {
namespace {

// How a console program ends on Ctrl-C (STATUS_CONTROL_C_EXIT).
constexpr UINT kControlCExit = 0xC000013Au;

void (*g_cleanup)() = nullptr;
// Whether Ctrl-C and Ctrl-Break ask for a graceful stop, and how many have.
std::atomic<bool> g_graceful{false};
std::atomic<unsigned> g_stopRequests{0};
std::atomic<bool> g_handlerSet{false};

// Set at the first stop of a graceful stop (manual reset: it stays set),
// for readers waiting beside it. Never closed.
HANDLE g_stopEvent = nullptr;

// Taken by TerminationHeld and by the handler, which keeps it to the end:
// no file is created, unregistered, between the cleanup and the exit.
// Never destroyed (a handler may run while static objects go).
std::mutex& HeldMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

// Runs on a thread of its own, which the system starts for each event.
BOOL WINAPI CleanUpAndExit(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    // The first Ctrl-C or Ctrl-Break of a graceful stop is only noted. The
    // others end the process at once: after closing the console, logoff or
    // shutdown the system ends it within seconds anyway.
    const bool stop = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (stop && g_graceful.load() && g_stopRequests.fetch_add(1) == 0) {
        SetEvent(g_stopEvent);
        return TRUE;
    }
    HeldMutex().lock();
    if (g_cleanup)
        g_cleanup();
    // The other threads are stopped where they are (ExitProcess would run
    // the runtime's exit code while they may hold its locks); the system
    // closes their files.
    TerminateProcess(GetCurrentProcess(), kControlCExit);
    return TRUE;
}

// Once for both installs (a handler set twice would run twice).
void SetHandler()
{
    if (!g_handlerSet.exchange(true))
        SetConsoleCtrlHandler(&CleanUpAndExit, TRUE);
}

}  // namespace

CommandLine::CommandLine(int, char**)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i)
            words_.push_back(Narrow(wide[i]));
        LocalFree(wide);
    }
    if (words_.empty())
        words_.push_back("mervox");
    for (std::string& word : words_)
        pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
    // Samples and captures through standard input and output byte for
    // byte (no CR LF translation, no end at a 0x1A byte).
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    // Messages (file names in them) are UTF-8.
    previousCodePage_ = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
}

CommandLine::~CommandLine()
{
    if (previousCodePage_ != 0)
        SetConsoleOutputCP(previousCodePage_);
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

unsigned UsableProcessors()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return 0;
    unsigned n = 0;
    for (; process != 0; process &= process - 1)
        ++n;
    return n;
}

void InstallTerminationCleanup(void (*cleanup)())
{
    g_cleanup = cleanup;
    SetHandler();
}

void InstallGracefulStop()
{
    if (!g_stopEvent && !(g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr)))
        return;  // no event: Ctrl-C ends the process as before
    g_graceful.store(true);
    SetHandler();
}

bool StopRequested() { return g_stopRequests.load() != 0; }

int StopDescriptor() { return -1; }

// A thread that reads the pipe into a block of its own when asked, so that
// the reader can wait for it beside the stop event. Handed to the end of
// the process when a stop leaves it in a read. It reads its own handle of
// the pipe, outside the C runtime, whose descriptor may then be closed
// (the runtime would wait for the read to end).
struct StoppableReader::Waiter {
    static constexpr DWORD kBlock = 64 * 1024;
    HANDLE pipe = nullptr;
    HANDLE wanted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::vector<char> block = std::vector<char>(kBlock);
    long long got = 0;  // of the last read, with its errno
    int error = 0;
    size_t next = 0, filled = 0;  // what the reader has not taken of the block
    bool pending = false;         // asked, not collected
    std::atomic<bool> quit{false};
    std::thread thread;

    ~Waiter()
    {
        for (const HANDLE h : {pipe, wanted, done})
            if (h)
                CloseHandle(h);
    }
    void Run()
    {
        while (WaitForSingleObject(wanted, INFINITE) == WAIT_OBJECT_0 && !quit.load()) {
            DWORD n = 0;
            if (ReadFile(pipe, block.data(), kBlock, &n, nullptr)) {
                got = n;
            } else {
                const DWORD why = GetLastError();
                got = why == ERROR_BROKEN_PIPE ? 0 : -1;  // the writer has closed it: the end
                error = ErrnoOfWindowsError(why);
            }
            SetEvent(done);
        }
    }
};

StoppableReader::StoppableReader(int fd) : fd_(fd)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (!g_graceful.load() || handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_PIPE)
        return;
    auto waiter = std::make_unique<Waiter>();
    if (!waiter->wanted || !waiter->done ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &waiter->pipe, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return;
    try {
        waiter->thread = std::thread([w = waiter.get()] { w->Run(); });
    } catch (const std::system_error&) {
        return;  // read in place, as without a graceful stop
    }
    waiter_ = waiter.release();
}

StoppableReader::~StoppableReader()
{
    if (!waiter_)
        return;
    if (waiter_->pending) {
        // In a read that a stop left: it writes only to its own block.
        waiter_->thread.detach();
        return;
    }
    waiter_->quit.store(true);
    SetEvent(waiter_->wanted);
    waiter_->thread.join();
    delete waiter_;
}

long long StoppableReader::Read(void* buffer, size_t size)
{
    const unsigned chunk = static_cast<unsigned>(size < INT_MAX ? size : INT_MAX);
    for (;;) {
        if (StopRequested())
            return kReadStopped;
        if (!waiter_) {
            const long long got = _read(fd_, buffer, chunk);
            if (got >= 0 || errno != EINTR)
                return got;
            continue;
        }
        Waiter& w = *waiter_;
        if (w.next == w.filled) {
            if (!w.pending) {
                w.pending = true;
                SetEvent(w.wanted);
            }
            const HANDLE events[2] = {w.done, g_stopEvent};
            const DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
            if (which == WAIT_OBJECT_0 + 1)
                continue;  // the stop (looked at above)
            if (which != WAIT_OBJECT_0) {
                errno = EIO;
                return -1;
            }
            w.pending = false;
            if (w.got <= 0) {
                if (w.got < 0 && w.error == EINTR)
                    continue;
                errno = w.error;
                return w.got;
            }
            w.next = 0;
            w.filled = static_cast<size_t>(w.got);
        }
        const size_t n = std::min<size_t>(chunk, w.filled - w.next);
        std::memcpy(buffer, w.block.data() + w.next, n);
        w.next += n;
        return static_cast<long long>(n);
    }
}

bool ProcessRunning(unsigned long id)
{
    if (id == 0)
        return false;  // the system's idle process: no run of the command
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER;  // denied: someone else's, running
    // A process that has ended may live on as long as a handle to it.
    DWORD status = 0;
    const bool running = !GetExitCodeProcess(process, &status) || status == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

TerminationHeld::TerminationHeld() : state_() { HeldMutex().lock(); }

TerminationHeld::~TerminationHeld() { HeldMutex().unlock(); }

void InterruptIfTesting()
{
    static std::atomic<bool> done{false};
    const char* hook = std::getenv("MERVOX_TEST_INTERRUPT");
    if (!hook || std::strcmp(hook, "1") != 0 || done.exchange(true))
        return;
    // As the system delivers Ctrl-C: the handler on a new thread. This one
    // waits for it (it ends the process, or notes a graceful stop's first
    // request), with its file still open.
    std::thread([] { CleanUpAndExit(CTRL_C_EVENT); }).join();
}

}  // namespace mervox::media::platform
