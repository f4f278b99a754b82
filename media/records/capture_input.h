// Where a capture's bytes come from: a stdio stream (a file, a pipe,
// standard input) or bytes the caller holds in memory. The record readers
// read through this, so that neither needs a platform's way of turning
// memory into a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace mervox::media::records {

class CaptureInput {
public:
    virtual ~CaptureInput() = default;
    // Up to `size` bytes into `buffer`; fewer only at the end of the input,
    // on a read error (Failed()) or at a stop (Stopped()).
    virtual size_t Read(void* buffer, size_t size) = 0;
    virtual bool Failed() const = 0;
    // Whether the input has ended because a stop was requested
    // (platform/process.h): a clean end where the stop came, not damage.
    virtual bool Stopped() const { return false; }
};

// Which streams a stop (platform/process.h) ends.
enum class EndAtStop {
    // A pipe, terminal, socket or device, which may wait for bytes that a
    // live capture has not sent yet; a regular file is read to its end (a
    // ring buffer's file, read to where it was written).
    kUnlessFile,
    kAlways,  // files too (the command stops reading captures from disk)
};

// Takes the stream over: it is closed with the input. Read through its
// descriptor, not through stdio (which takes an interrupted read for a
// failure), so it must not have been read from; interrupted reads are
// retried. A stream that `endAtStop` names ends at a stop, also while it
// waits for bytes: the bytes read by then are given, the rest of the
// request is not waited for. So does the end of the input once a stop has
// been requested (the writer stopped by the same Ctrl-C), even inside a
// record.
std::unique_ptr<CaptureInput> StreamInput(std::FILE* stream, EndAtStop endAtStop = EndAtStop::kUnlessFile);
// The bytes stay the caller's and must outlive the input.
std::unique_ptr<CaptureInput> MemoryInput(const uint8_t* data, size_t size);

}  // namespace mervox::media::records
