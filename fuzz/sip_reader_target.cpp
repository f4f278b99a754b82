// Input: a list of chunks, each one a SIP datagram or TCP segment between
// hosts: a control byte (bit 0: TCP; bit 1: from the second host; bits
// 2-3: the TCP sequence number jumps ahead by that many times 16 bytes, a
// gap; bit 4: FIN; bits 5-6: which of four ports the sender uses, so that
// up to eight directions are followed; bit 7: this one segment is spoofed
// 2^31 - 2^16 bytes ahead of the sender's numbering), a length byte, then
// that many bytes (the last chunk takes what is left). The SIP reader must
// read it all with its memory bounded: calls, open calls, TCP directions
// and buffered bytes within their limits, every stored field within its
// bound, each call's times in order. The chunks are read twice: with the
// reader's own limits, and with limits small enough that directions are
// forgotten and messages dropped to make room.
#include <array>

#include "check.h"
#include "signalling/sip_reader.h"
#include "signalling/sip_text.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

using media::signalling::Dialog;

void CheckDialog(const Dialog& d)
{
    for (const std::string* field :
         {&d.callId, &d.from.displayName, &d.from.uri, &d.from.tag, &d.to.displayName, &d.to.uri, &d.to.tag})
        Require(field->size() <= media::signalling::kMaxFieldBytes, "a stored field beyond its bound");
    Require(!d.callId.empty(), "a call without a Call-ID");
    Require(d.media.size() <= media::signalling::kMaxDialogMedia, "more media than a call keeps");
    Require(d.answers.size() <= media::signalling::kMaxAnswers, "more answers than a call keeps");
    Require(d.firstTime <= d.lastTime, "a call's last message before its first");
    for (double t : {d.inviteTime, d.answerTime, d.ackTime, d.byeTime, d.cancelTime, d.finalTime})
        Require(t < 0 || (t >= d.firstTime && t <= d.lastTime), "a call's event outside its messages");
    Require((d.finalStatus == 0) == (d.finalTime < 0), "a final response without its time, or the reverse");
    Require(d.finalStatus == 0 || (d.finalStatus >= 200 && d.finalStatus <= 699), "a final response out of range");
    for (const media::signalling::DialogMedia& m : d.media)
        Require(m.media.payloads.size() <= media::signalling::kMaxPayloadTypes, "more payload types than kept");
}

void ReadChunks(const uint8_t* data, size_t size, media::signalling::TcpLimits limits)
{
    media::signalling::SipReader reader(limits);
    media::net::Endpoint hosts[2];
    hosts[0].address[3] = 1;
    hosts[1].address[3] = 2;
    hosts[0].port = 5060;
    hosts[1].port = 5062;
    std::array<std::array<uint32_t, 4>, 2> sequence{{{1000, 2000, 3000, 4000}, {9000, 8000, 7000, 6000}}};
    media::signalling::StreamOwner owners[2];
    double time = 0;
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t control = data[at];
        size_t length = data[at + 1];
        at += 2;
        if (length > size - at || at + length + 2 > size)
            length = size - at;
        // A buffer of the chunk's exact size, so that ASan sees any read past its end.
        const std::vector<uint8_t> chunk(data + at, data + at + length);
        at += length;
        const int from = (control >> 1) & 1;
        const int port = (control >> 5) & 3;
        media::net::Endpoint source = hosts[from];
        source.port = static_cast<uint16_t>(source.port + 100 * port);
        const media::net::Endpoint& destination = hosts[1 - from];
        const media::net::ByteView payload{chunk.data(), chunk.size()};
        time += 0.5;
        if (control & 1) {
            uint32_t& next = sequence[from][port];
            next += ((control >> 2) & 3) * 16u;
            media::signalling::TcpSegmentInfo segment;
            segment.sequence = (control & 0x80) ? next + 0x7fff0000u : next;
            segment.fin = (control & 0x10) != 0;
            segment.payload = payload;
            reader.Segment(source, destination, segment, time);
            if (!(control & 0x80))
                next += static_cast<uint32_t>(length);
        } else {
            reader.Datagram(source, destination, payload, time);
        }
        Require(reader.tcpDirections() <= limits.directions, "more TCP directions than the limit");
        Require(reader.bufferedBytes() <= limits.bufferedBytes, "TCP buffers beyond their bound");
        // Each direction between the hosts as a stream of media: its call
        // is one that is there, and one that answered when it is the stream's.
        reader.Follow(hosts[from], hosts[1 - from], time, owners[from]);
        const media::signalling::StreamOwner& o = owners[from];
        Require(o.dialog == media::signalling::kNoDialog || o.dialog < reader.dialogs().count(), "a stream of no call");
        const Dialog* own = o.attached ? reader.dialogs().Find(o.dialog) : nullptr;
        Require(!o.attached || (own && own->replyTime >= 0), "a stream of a call nobody answered");
        Require(o.moves.size() <= media::signalling::kMaxStreamMoves && o.moves.size() <= o.moveCount,
                "moves kept beyond their bound");
        for (int pt = 0; pt < 128; pt += 37)
            reader.Use(o, hosts[from], hosts[1 - from], pt);
    }
    reader.Sweep(time + 1e6);
    Require(reader.tcpDirections() == 0, "TCP directions still followed long after their last segment");
    Require(reader.dialogs().held() <= media::signalling::kMaxDialogs, "more calls than the limit");
    Require(reader.openDialogs() == 0, "calls still open long after their last message");
    for (size_t id = 0; id < reader.dialogs().count(); ++id)
        if (const Dialog* d = reader.dialogs().Find(id))
            CheckDialog(*d);
}

}  // namespace

int RunSipReader(const uint8_t* data, size_t size)
{
    ReadChunks(data, size, media::signalling::TcpLimits{});
    ReadChunks(data, size, media::signalling::TcpLimits{3, 2048});
    return 0;
}

}  // namespace mervox::fuzz
