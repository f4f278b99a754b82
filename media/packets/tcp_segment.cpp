#include "packets/tcp_segment.h"

namespace mervox::media::packets {

bool ParseTcp(net::ByteView segment, TcpSegment& out)
{
    constexpr size_t kMinHeader = 20;
    if (!segment.Has(0, kMinHeader))
        return false;
    const size_t header = (segment.U8(12) >> 4) * 4u;
    if (header < kMinHeader || !segment.Has(0, header))
        return false;
    const uint8_t flags = segment.U8(13);
    out.sourcePort = segment.U16(0);
    out.destinationPort = segment.U16(2);
    out.sequence = segment.U32(4);
    out.fin = (flags & 0x01) != 0;
    out.syn = (flags & 0x02) != 0;
    out.reset = (flags & 0x04) != 0;
    out.payload = segment.From(header);
    return true;
}

}  // namespace mervox::media::packets
