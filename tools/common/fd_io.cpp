#include "fd_io.h"

#include <unistd.h>

#include <cerrno>

namespace mervox::tools {

int WriteAll(int fd, const uint8_t* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int WriteAllAt(int fd, const uint8_t* bytes, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = pwrite(fd, bytes, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        bytes += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

}  // namespace mervox::tools
