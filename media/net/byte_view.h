// A read-only view of bytes inside a captured packet, with bounds-checked
// big-endian field access (network byte order).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mervox::media::net {

struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;

    bool Has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }
    ByteView From(size_t offset) const { return offset <= size ? ByteView{data + offset, size - offset} : ByteView{}; }
    ByteView Prefix(size_t count) const { return ByteView{data, count < size ? count : size}; }
    // Callers check Has() first.
    uint8_t U8(size_t offset) const { return data[offset]; }
    uint16_t U16(size_t offset) const { return static_cast<uint16_t>((data[offset] << 8) | data[offset + 1]); }
    uint32_t U32(size_t offset) const
    {
        return (static_cast<uint32_t>(data[offset]) << 24) | (static_cast<uint32_t>(data[offset + 1]) << 16) |
               (static_cast<uint32_t>(data[offset + 2]) << 8) | data[offset + 3];
    }
};

}  // namespace mervox::media::net
