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
    // Up to `size` bytes into `buffer`; fewer only at the end of the input
    // or on a read error (Failed()).
    virtual size_t Read(void* buffer, size_t size) = 0;
    virtual bool Failed() const = 0;
};

// Takes the stream over: it is closed with the input.
std::unique_ptr<CaptureInput> StreamInput(std::FILE* stream);
// The bytes stay the caller's and must outlive the input.
std::unique_ptr<CaptureInput> MemoryInput(const uint8_t* data, size_t size);

}  // namespace mervox::media::records
