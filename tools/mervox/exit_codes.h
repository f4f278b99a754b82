// Exit status of the mervox command (documented in the README).
#pragma once

namespace mervox::cli {

enum ExitCode : int {
    kExitOk = 0,          // success (warnings such as a truncated last frame included)
    kExitBadInput = 1,    // input missing, unreadable, empty, or not a stream
    kExitUsage = 2,       // bad command line (unknown option, unknown output extension, ...)
    kExitOutputError = 3, // output could not be written
};

}  // namespace mervox::cli
