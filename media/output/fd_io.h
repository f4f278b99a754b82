// Writing whole buffers to a descriptor, with the errno of the failing call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mervox::media::output {

// Writes all `size` bytes (retrying short writes and EINTR). Returns 0, or
// the errno of the call that failed (ENOSPC for a write that wrote nothing).
int WriteAll(int fd, const uint8_t* bytes, size_t size);

// The same at `offset`, leaving the descriptor's position alone.
int WriteAllAt(int fd, const uint8_t* bytes, size_t size, uint64_t offset);

}  // namespace mervox::media::output
