#include "packets/rtp_packet.h"

namespace mervox::media::packets {

RtpResult ParseRtp(net::ByteView datagram, RtpPacket& out)
{
    if (!datagram.Has(0, 12) || (datagram.U8(0) >> 6) != 2)
        return RtpResult::kNotRtp;
    const uint8_t first = datagram.U8(0);
    const bool padding = (first & 0x20) != 0;
    const bool extension = (first & 0x10) != 0;
    const size_t csrcCount = first & 0x0f;

    out.marker = (datagram.U8(1) & 0x80) != 0;
    out.payloadType = datagram.U8(1) & 0x7f;
    out.sequence = datagram.U16(2);
    out.timestamp = datagram.U32(4);
    out.ssrc = datagram.U32(8);

    size_t start = 12 + 4 * csrcCount;
    if (!datagram.Has(0, start))
        return RtpResult::kMalformed;
    if (extension) {
        // 16-bit profile word, 16-bit length in 32-bit words, then the data.
        if (!datagram.Has(start, 4))
            return RtpResult::kMalformed;
        const size_t words = datagram.U16(start + 2);
        start += 4 + 4 * words;
        if (!datagram.Has(0, start))
            return RtpResult::kMalformed;
    }
    size_t end = datagram.size;
    if (padding) {
        // The last byte counts the padding bytes, itself included.
        const size_t count = datagram.U8(datagram.size - 1);
        if (count == 0 || count > end - start)
            return RtpResult::kMalformed;
        end -= count;
    }
    out.payload = net::ByteView{datagram.data + start, end - start};
    return RtpResult::kRtp;
}

}  // namespace mervox::media::packets
