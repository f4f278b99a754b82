// Where decoded speech goes: a PcmSink takes 16-bit samples as they are
// decoded and writes them on in blocks (64 KiB), so memory does not grow
// with the output's length. Finish() completes the output; a sink
// destroyed without a successful Finish() is abandoned: a file output
// leaves nothing behind, a descriptor keeps what was already written. A
// file output can also be parked between writes: its descriptor closed and
// its buffer freed, until it is resumed where it was (for many outputs at
// once, output_pool.h).
//
// Three kinds, chosen by OpenPcmOutput (pcm_output.h):
//  - AtomicFileSink: a regular file, written under a temporary name in its
//    directory and renamed into place by Finish() (complete or absent).
//  - DescriptorSink: standard output, a descriptor path (/dev/stdout,
//    /dev/fd/N, ...), a pipe, FIFO or device: written through, as is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/status.h"
#include "output/pcm_format.h"

namespace mervox::media::output {

class PcmSink {
public:
    virtual ~PcmSink() = default;
    PcmSink(const PcmSink&) = delete;
    PcmSink& operator=(const PcmSink&) = delete;

    // Appends samples. Fails (and abandons the output) when writing fails or
    // when the output would pass MaxSamples(format); Status::ReaderGone()
    // when the reader of a pipe went away.
    base::Status Write(const int16_t* samples, size_t count);

    // Flushes, completes the WAV header where the output can be rewritten,
    // and puts the output in place. Once only.
    base::Status Finish();

    // Whether `samples` more samples (of all channels) would still fit (for
    // a check before decoding when the length is known).
    base::Status CheckRoom(uint64_t samples) const;
    // What the message of an output refused for its length suggests
    // instead, where the caller has something to offer (`decode`: raw
    // output); empty: nothing.
    void SetRoomAdvice(std::string advice) { roomAdvice_ = std::move(advice); }

    // Whether Park() can close the output and reopen it later (a file of
    // its own; not a descriptor that was given, a pipe or a device).
    virtual bool CanPark() const { return false; }
    // Writes out what is buffered, closes the descriptor and frees the
    // buffer; what was written stays. Does nothing when the output cannot
    // be parked, is parked or is finished; a failure abandons the output.
    base::Status Park();
    // Reopens a parked output where it was (the next Write() or Finish()
    // does so too). A failure leaves it parked (Write() and Finish()
    // abandon it).
    base::Status Resume();
    bool parked() const { return parked_; }

    PcmFormat format() const { return format_; }
    const std::string& path() const { return path_; }
    std::string name() const;  // for messages
    uint64_t samplesWritten() const { return samplesWritten_; }

protected:
    PcmSink(std::string path, PcmFormat format);

    // Writes the format's leading bytes (the WAV header with unknown sizes).
    base::Status Start();
    // All of `bytes`, or a failure naming the path.
    virtual base::Status WriteBytes(const uint8_t* bytes, size_t size) = 0;
    // After the last data: fix the header (if it can) and put in place.
    virtual base::Status Complete(uint64_t dataBytes) = 0;
    // After a failure or without Finish(): clean up what must not stay.
    virtual void Abandon() = 0;
    // Subclasses call this from their destructors.
    void AbandonUnlessFinished();
    // For outputs that CanPark(): close the descriptor, and open it again
    // positioned after the bytes written so far.
    virtual base::Status Suspend() { return base::Status::Ok(); }
    virtual base::Status Reopen() { return base::Status::Ok(); }

    base::Status WriteFailure(int errnoValue) const;
    uint64_t bytesWritten() const { return bytesWritten_; }  // handed to WriteBytes(), header included

private:
    base::Status Flush();
    uint8_t* Buffer();  // allocated when first needed, and again after Park()

    std::string path_;
    PcmFormat format_;
    std::string roomAdvice_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t buffered_ = 0;
    uint64_t samplesWritten_ = 0;
    uint64_t bytesWritten_ = 0;
    bool finished_ = false;
    bool parked_ = false;
};

}  // namespace mervox::media::output
