#include "output/fd_io.h"

#include <cerrno>

#include "platform/files.h"

namespace mervox::media::output {
namespace {

// Repeats `writeSome(bytes, size, done)` (which writes up to `size` bytes,
// `done` already written before them) until everything is written; retries
// an interrupted call. Returns 0 or the errno of the failing call (ENOSPC
// when nothing more could be written).
template <typename WriteSome>
int WriteLoop(const uint8_t* bytes, size_t size, WriteSome writeSome)
{
    size_t done = 0;
    while (done < size) {
        const long long n = writeSome(bytes + done, size - done, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

int WriteAll(int fd, const uint8_t* bytes, size_t size)
{
    return WriteLoop(bytes, size, [fd](const uint8_t* p, size_t n, size_t) { return platform::WriteSome(fd, p, n); });
}

int WriteAllAt(int fd, const uint8_t* bytes, size_t size, uint64_t offset)
{
    return WriteLoop(bytes, size, [fd, offset](const uint8_t* p, size_t n, size_t done) {
        return platform::WriteSomeAt(fd, p, n, offset + done);
    });
}

}  // namespace mervox::media::output
