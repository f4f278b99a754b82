// TCP header: ports, sequence number, the flags that open and close a
// connection, and the data after the header and its options.
#pragma once

#include <cstdint>

#include "net/byte_view.h"

namespace mervox::media::packets {

struct TcpSegment {
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    uint32_t sequence = 0;
    bool syn = false;
    bool fin = false;
    bool reset = false;
    net::ByteView payload;
};

// False when the header is cut short or its length impossible.
bool ParseTcp(net::ByteView segment, TcpSegment& out);

}  // namespace mervox::media::packets
