// The process as the operating system starts and ends it, behind one
// interface for POSIX systems (posix/process.cpp) and Windows
// (windows/process.cpp).
#pragma once

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
// its own as the system runs it; on POSIX SIGINT is raised). Nothing
// otherwise.
void InterruptIfTesting();

}  // namespace mervox::media::platform
