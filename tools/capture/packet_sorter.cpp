#include "packet_sorter.h"

#include "link_layer.h"
#include "rtp_packet.h"

namespace mervox::capture {

void SortPacket(PacketSorter& sorter, ByteView data, size_t originalLength, double time)
{
    CaptureCounters& c = sorter.counters;
    ++c.records;
    const bool cutByCapture = data.size < originalLength;

    ByteView ip;
    switch (ExtractIp(sorter.linkType, data, ip)) {
    case LinkResult::kIp:
        break;
    case LinkResult::kNotIp:
        ++c.notIp;
        return;
    case LinkResult::kTruncated:
        ++c.cutShort;
        return;
    case LinkResult::kUnsupported:
        ++c.unsupportedLink;
        return;
    }

    UdpDatagram udp;
    switch (ParseUdp(ip, udp)) {
    case UdpResult::kUdp:
        break;
    case UdpResult::kNotUdp:
        ++c.notUdp;
        return;
    case UdpResult::kFragment:
        ++c.fragments;
        return;
    case UdpResult::kTruncated:
        (cutByCapture ? c.cutShort : c.malformedIp) += 1;
        return;
    case UdpResult::kMalformed:
        ++c.malformedIp;
        return;
    }

    RtpPacket rtp;
    switch (ParseRtp(udp.payload, rtp)) {
    case RtpResult::kRtp:
        break;
    case RtpResult::kNotRtp:
        ++c.notRtp;
        return;
    case RtpResult::kMalformed:
        ++c.malformedRtp;
        return;
    }
    if (rtp.payloadType != sorter.payloadType) {
        ++c.otherPayloadType;
        return;
    }
    ++c.streamPackets;

    const StreamKey key{rtp.ssrc, udp.source, udp.destination};
    auto found = sorter.index.find(key);
    if (found == sorter.index.end()) {
        found = sorter.index.emplace(key, sorter.streams.size()).first;
        RtpStream s;
        s.ssrc = rtp.ssrc;
        s.source = udp.source;
        s.destination = udp.destination;
        s.payloadType = sorter.payloadType;
        s.firstArrival = time;
        sorter.streams.push_back(std::move(s));
    }
    StreamPacket p;
    p.sequence = rtp.sequence;
    p.timestamp = rtp.timestamp;
    p.payload.assign(rtp.payload.data, rtp.payload.data + rtp.payload.size);
    p.payloadCutShort = !SplitFrames(ByteView{p.payload.data(), p.payload.size()}, p.frames);
    sorter.streams[found->second].packets.push_back(std::move(p));
}

std::vector<RtpStream> FinishStreams(PacketSorter& sorter)
{
    std::vector<RtpStream> kept;
    for (RtpStream& s : sorter.streams) {
        s.timeline = BuildTimeline(s.packets);
        if (s.timeline.stats.frames == 0) {
            sorter.counters.emptyPackets += s.packets.size();
            continue;
        }
        kept.push_back(std::move(s));
    }
    sorter.streams.clear();
    sorter.index.clear();
    return kept;
}

}  // namespace mervox::capture
