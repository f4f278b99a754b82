#include "records/capture_input.h"

#include <algorithm>
#include <cstring>

namespace mervox::media::records {
namespace {

class Stream : public CaptureInput {
public:
    explicit Stream(std::FILE* stream) : stream_(stream) {}
    ~Stream() override { std::fclose(stream_); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    size_t Read(void* buffer, size_t size) override { return std::fread(buffer, 1, size, stream_); }
    bool Failed() const override { return std::ferror(stream_) != 0; }

private:
    std::FILE* stream_;
};

class Memory : public CaptureInput {
public:
    Memory(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Read(void* buffer, size_t size) override
    {
        const size_t n = std::min(size, size_ - position_);
        if (n > 0)
            std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return n;
    }
    bool Failed() const override { return false; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace

std::unique_ptr<CaptureInput> StreamInput(std::FILE* stream) { return std::make_unique<Stream>(stream); }

std::unique_ptr<CaptureInput> MemoryInput(const uint8_t* data, size_t size)
{
    return std::make_unique<Memory>(data, size);
}

}  // namespace mervox::media::records
