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
    HeldMutex().lock();
    if (g_cleanup)
        g_cleanup();
    // The other threads are stopped where they are (ExitProcess would run
    // the runtime's exit code while they may hold its locks); the system
    // closes their files.
    TerminateProcess(GetCurrentProcess(), kControlCExit);
    return TRUE;
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
    SetConsoleCtrlHandler(&CleanUpAndExit, TRUE);
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
