// The one error type of the tools: success, or a failure carrying the exit
// status it calls for and a one-line message (naming the file, and the
// system's reason when a call failed: errno is read at the failing call).
//
//   Status s = sink->Write(pcm, n);
//   if (!s.ok()) { print(s.message()); return s.code(); }
//
// A reader that stopped reading our output (a closed pipe, `| head`) is a
// status of its own: the command ends quietly with success.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <utility>

namespace mervox::media::base {

// Exit status of the mervox command (what each means to the user:
// tools/mervox/exit_codes.h).
enum ExitCode : int {
    kExitOk = 0,           // success (warnings such as a truncated last frame included)
    kExitBadInput = 1,     // input missing, unreadable, empty, or without a whole frame
    kExitUsage = 2,        // bad command line (unknown option, unknown output extension, ...)
    kExitOutputError = 3,  // output could not be created or written
    kExitOutOfMemory = 4,  // memory ran out
};

class Status {
public:
    Status() = default;  // success

    static Status Ok() { return Status(); }
    static Status Failure(ExitCode code, std::string message) { return Status(code, std::move(message), 0); }
    // `message` + ": " + the system's text for `errnoValue`.
    static Status SystemFailure(ExitCode code, const std::string& message, int errnoValue);
    // The reader of the output went away (EPIPE): nothing more to write.
    static Status ReaderGone() { return Status(kExitOk, "", 0, true); }

    bool ok() const { return code_ == kExitOk && !readerGone_; }
    bool readerGone() const { return readerGone_; }
    ExitCode code() const { return code_; }
    const std::string& message() const { return message_; }
    int systemError() const { return errno_; }  // 0 unless a system call failed

private:
    Status(ExitCode code, std::string message, int errnoValue, bool readerGone = false)
        : code_(code), message_(std::move(message)), errno_(errnoValue), readerGone_(readerGone)
    {}

    ExitCode code_ = kExitOk;
    std::string message_;
    int errno_ = 0;
    bool readerGone_ = false;
};

// A value, or the Status that explains why there is none.
template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status failure) : status_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    const Status& status() const { return status_; }
    T& value() { return *value_; }
    const T& value() const { return *value_; }

private:
    std::optional<T> value_;
    Status status_;
};

// The message for running out of memory, the same everywhere.
inline Status OutOfMemory() { return Status::Failure(kExitOutOfMemory, "out of memory"); }

}  // namespace mervox::media::base
