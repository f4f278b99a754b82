// The module's failures and warnings, in C++ terms: glue code throws these
// and returns warning texts without touching Python; the bindings turn
// them into Python exceptions and warnings.
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace mervox::python {

// A file that cannot be opened or read: an OSError whose subclass follows
// errno (FileNotFoundError, PermissionError, IsADirectoryError, ...).
struct InputError : std::runtime_error {
    InputError(int errnoValue, const std::string& message) : std::runtime_error(message), errnum(errnoValue) {}
    int errnum;
};

// Bytes that are not a stream with a whole frame: mervox.StreamError.
struct StreamError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Not a capture, or no G.723.1 stream in it: mervox.CaptureError.
struct CaptureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Warnings a call collects while the interpreter lock is released.
using Warnings = std::vector<std::string>;

enum class WarningKind { kStream, kCapture };

// Registers the exception and warning classes and the exception translator
// (which also turns media::base::Interrupted into the exception a signal handler
// raised).
void RegisterErrors(pybind11::module_& m);

// Runs Python's signal handlers, taking the interpreter lock for it: true
// when one raised an exception (KeyboardInterrupt for Ctrl-C), which stays
// set until the media::base::Interrupted this leads to reaches the binding. The
// glue's loops ask it every few thousand frames (media::base::StopRequested).
bool SignalRaised();

// Issues each text as mervox.StreamWarning or mervox.CaptureWarning; throws
// error_already_set when a filter turns a warning into an error.
void IssueWarnings(WarningKind kind, const Warnings& warnings);

}  // namespace mervox::python
