// Temporary output files that a terminating signal must not leave behind.
// InstallTemporaryFileCleanup() makes SIGINT, SIGTERM, SIGHUP and SIGXFSZ
// (those not ignored and without a handler of the host's own; on Windows
// Ctrl-C, Ctrl-Break and closing the console) remove every registered file
// and then end the process as the request would have (platform/process.h).
// Registering and forgetting are safe from any thread; the handler only
// removes files and never allocates.
#pragma once

#include <string>

namespace mervox::media::output {

void InstallTemporaryFileCleanup();

class TemporaryFileRegistration {
public:
    // Removed from the file system if a handled signal arrives before
    // Forget() or destruction. A path of kMaxPathBytes or more is not
    // registered (no such file can be created anyway).
    explicit TemporaryFileRegistration(const std::string& path);
    ~TemporaryFileRegistration() { Forget(); }
    TemporaryFileRegistration(const TemporaryFileRegistration&) = delete;
    TemporaryFileRegistration& operator=(const TemporaryFileRegistration&) = delete;

    void Forget();

    struct Slot;  // one registered path (defined in the .cpp)

private:
    Slot* slot_ = nullptr;
};

}  // namespace mervox::media::output
