// An output written straight through a descriptor: standard output, a
// path that names a descriptor (/dev/stdout, /dev/fd/N, ...), a pipe, a
// FIFO or a device. Nothing is renamed or replaced: a file behind the
// descriptor keeps what it held before (`>> log` appends), and the data
// goes out as it is decoded. A WAV header gets its sizes at the end when
// the descriptor is a regular file that can be rewritten at the header's
// offset (not opened for appending); otherwise it keeps the unknown-length
// sizes (kWavUnknownSize), which readers take as "until the end".
#pragma once

#include <memory>
#include <string>

#include "output/pcm_sink.h"

namespace mervox::media::output {

class DescriptorSink : public PcmSink {
public:
    // Writes to the open descriptor `fd`, which stays open (owned = false)
    // or is closed by Finish() (owned = true).
    static base::Result<std::unique_ptr<PcmSink>> Open(const std::string& path, int fd, bool owned, PcmFormat format);
    ~DescriptorSink() override;

protected:
    base::Status WriteBytes(const uint8_t* bytes, size_t size) override;
    base::Status Complete(uint64_t dataBytes) override;
    void Abandon() override;

private:
    DescriptorSink(const std::string& path, PcmFormat format) : PcmSink(path, format) {}

    int fd_ = -1;
    bool owned_ = false;
    long long headerOffset_ = -1;  // where the header can be rewritten, else -1
};

}  // namespace mervox::media::output
