#include "records/capture_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

namespace mervox::media::records {
namespace {

// Read by the descriptor in blocks of kBlock bytes; a larger request is
// read straight into the caller's buffer.
class Stream : public CaptureInput {
public:
    Stream(std::FILE* stream, EndAtStop endAtStop) : stream_(stream), fd_(fileno(stream))
    {
        platform::FileStatus st;
        if (endAtStop == EndAtStop::kAlways || platform::StatDescriptor(fd_, &st) != 0 ||
            st.kind != platform::FileKind::kRegular)
            reader_.emplace(fd_);
    }
    ~Stream() override { std::fclose(stream_); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    size_t Read(void* buffer, size_t size) override
    {
        uint8_t* out = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < size) {
            if (next_ < filled_) {
                const size_t n = std::min(size - done, filled_ - next_);
                std::memcpy(out + done, block_.data() + next_, n);
                next_ += n;
                done += n;
                continue;
            }
            if (ended_)
                break;
            const bool direct = size - done >= kBlock;
            if (!direct && block_.empty())
                block_.resize(kBlock);
            const long long got = ReadSome(direct ? out + done : block_.data(), direct ? size - done : kBlock);
            if (got > 0 && direct) {
                done += static_cast<size_t>(got);
            } else if (got > 0) {
                next_ = 0;
                filled_ = static_cast<size_t>(got);
            } else {
                // The end, a failure (errno kept for the caller) or a stop;
                // an end once a stop was asked for is the stop's.
                ended_ = true;
                failed_ = got == -1;
                stopped_ = got == platform::kReadStopped || (got == 0 && reader_ && platform::StopRequested());
            }
        }
        return done;
    }
    bool Failed() const override { return failed_; }
    bool Stopped() const override { return stopped_; }

private:
    long long ReadSome(void* buffer, size_t size)
    {
        if (reader_)
            return reader_->Read(buffer, size);
        for (;;) {
            const long long got = platform::ReadSome(fd_, buffer, size);
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

    static constexpr size_t kBlock = 64 * 1024;
    std::FILE* stream_;
    int fd_;
    std::optional<platform::StoppableReader> reader_;  // for a stream that a stop ends
    std::vector<uint8_t> block_;                       // kBlock bytes once needed
    size_t next_ = 0, filled_ = 0;
    bool ended_ = false, failed_ = false, stopped_ = false;
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

std::unique_ptr<CaptureInput> StreamInput(std::FILE* stream, EndAtStop endAtStop)
{
    return std::make_unique<Stream>(stream, endAtStop);
}

std::unique_ptr<CaptureInput> MemoryInput(const uint8_t* data, size_t size)
{
    return std::make_unique<Memory>(data, size);
}

}  // namespace mervox::media::records
