#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

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
    if (stop && g_graceful.load() && g_stopRequests.fetch_add(1) == 0)
        return TRUE;
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
    g_graceful.store(true);
    SetHandler();
}

bool StopRequested() { return g_stopRequests.load() != 0; }

int StopDescriptor() { return -1; }

bool ProcessRunning(unsigned long id)
{
    if (id == 0 || id > 0xffffffffu)
        return false;
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
    // waits for it (it ends the process), with its file still open.
    std::thread([] { CleanUpAndExit(CTRL_C_EVENT); }).join();
}

}  // namespace mervox::media::platform
