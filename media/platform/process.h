// The process as the operating system starts and ends it, behind one
// interface for POSIX systems (posix/process.cpp) and Windows
// (windows/process.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mervox::media::platform {

// The command line as UTF-8 words. POSIX: argv as given. Windows: the
// wide-character command line (GetCommandLineW), whatever the code page.
// Also sets the process up for the command: standard input and output in
// binary mode and UTF-8 console output on Windows; a reader that goes
// away (SIGPIPE) shows as a failed write (EPIPE) on POSIX.
class CommandLine {
public:
    CommandLine(int argc, char** argv);
    ~CommandLine();  // Windows: the console's output code page as it was
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;
    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;                     // into words_, then nullptr
    [[maybe_unused]] unsigned previousCodePage_ = 0;  // Windows
};

// Makes the termination requests a console program gets (POSIX: SIGINT,
// SIGTERM, SIGHUP, SIGXFSZ, those not ignored nor handled by the host;
// Windows: Ctrl-C, Ctrl-Break, closing the console, logoff, shutdown) call
// `cleanup` and then end the process as the request would have (the
// signal's status; on Windows STATUS_CONTROL_C_EXIT, 0xC000013A). `cleanup`
// must not allocate or take locks: on POSIX it runs in a signal handler.
void InstallTerminationCleanup(void (*cleanup)());

// A stop in two stages, for a command that records as it reads (`mervox
// pcap -` from a live capture, for days): after InstallGracefulStop() the
// first stop request only asks the command to finish: StopRequested()
// turns true, StopDescriptor() becomes readable and stays so, and
// StoppableReader returns kReadStopped instead of waiting for more
// input. The command then ends its input there and completes its outputs.
// A second request, from any of these, runs the termination cleanup
// (InstallTerminationCleanup) and ends the process as the request would
// have, as without a graceful stop.
//
// POSIX: SIGINT, SIGTERM and SIGHUP (a closed terminal or a dropped
// connection loses no recording: as for tcpdump, a hang-up ends the capture
// and keeps it) stop; SIGXFSZ (a file past `ulimit -f`) still ends the
// process at once. Signals ignored or handled by the host when this is
// called are left so (`nohup` keeps ignoring SIGHUP). The handler is
// installed with SA_RESTART: the signal reaches whichever thread the system
// picks, so the reading thread cannot count on EINTR; it waits through
// StopDescriptor() instead, and other threads' calls go on undisturbed.
// Windows: Ctrl-C and Ctrl-Break stop; closing the console, logoff and
// shutdown still clean up and end the process at once, as the system ends
// it a few seconds later anyway.
//
// What a crash (SIGKILL, power loss) loses: the calls in progress, whose
// samples were in hidden scratch files (output/scratch_files.h: removed by
// the next run's RemoveStaleScratchFiles); nothing already written, as
// every output is moved into place complete, in one step.
void InstallGracefulStop();
// Whether a stop has been requested (async-signal-safe; false before
// InstallGracefulStop()).
bool StopRequested();
// A descriptor that turns readable once a stop has been requested, for a
// poll() beside the input's; -1 before InstallGracefulStop() and on
// Windows.
int StopDescriptor();

// Reads a descriptor as ReadSome does (files.h: 0 at the end of the
// input, -1 with errno; EINTR retried), but once a stop has been requested
// reads nothing more and returns kReadStopped, also when it was waiting
// for input (a pipe, a terminal): a live capture ends where the stop came.
// POSIX: poll() on the descriptor and StopDescriptor(), whichever thread
// the signal went to. Windows, for a pipe once InstallGracefulStop() has
// been called: a thread of the reader's own waits in the read (a read of
// an anonymous pipe cannot be waited for beside an event), and a stop
// leaves it there; after a stop, the reader's destruction leaves that
// thread and its block to the end of the process. (A reader made before
// InstallGracefulStop() waits in the read itself.)
constexpr long long kReadStopped = -2;
class StoppableReader {
public:
    explicit StoppableReader(int fd);
    ~StoppableReader();
    StoppableReader(const StoppableReader&) = delete;
    StoppableReader& operator=(const StoppableReader&) = delete;

    long long Read(void* buffer, size_t size);

    struct Waiter;  // Windows: the reading thread (none on POSIX)

private:
    int fd_;
    [[maybe_unused]] Waiter* waiter_ = nullptr;  // Windows
};

// Whether process `id` may still be running: false only when the system
// says there is no such process (a process of another user counts as
// running). For names made with ProcessId() by another run.
bool ProcessRunning(unsigned long id);

// Holds back the termination cleanup for its lifetime, so that no request
// falls between creating a file and registering it for removal.
class TerminationHeld {
public:
    TerminationHeld();
    ~TerminationHeld();
    TerminationHeld(const TerminationHeld&) = delete;
    TerminationHeld& operator=(const TerminationHeld&) = delete;

private:
    alignas(8) unsigned char state_[128];  // the platform's saved state (a signal mask)
};

// The processors this process may run on (POSIX: its affinity mask, as
// taskset or a container's cpuset sets it; Windows: its affinity mask in
// its processor group); 0 if unknown.
unsigned UsableProcessors();

// This process's number (for names that no other run of the command takes).
unsigned long ProcessId();

// Test hook: with MERVOX_TEST_INTERRUPT=1 in the environment, the first
// temporary file registered is followed by a termination request (on
// Windows the console control handler is run for Ctrl-C, on a thread of
// its own as the system runs it; on POSIX SIGINT is raised): with a
// graceful stop installed, its first request. Nothing otherwise.
void InterruptIfTesting();

}  // namespace mervox::media::platform
