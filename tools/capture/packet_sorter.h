// Sorts captured packets into RTP streams: follows one record from the link
// layer down to the G.723.1 frames and files it under its stream, or counts
// why it was skipped.
#pragma once

#include <map>
#include <tuple>

#include "capture.h"

namespace mervox::capture {

struct StreamKey {
    uint32_t ssrc;
    Endpoint source;
    Endpoint destination;
    bool operator<(const StreamKey& o) const
    {
        return std::tie(ssrc, source, destination) < std::tie(o.ssrc, o.source, o.destination);
    }
};

struct PacketSorter {
    int linkType = -1;
    int payloadType = 4;
    CaptureCounters counters;
    std::map<StreamKey, size_t> index;  // into streams
    std::vector<RtpStream> streams;
};

// One capture record: `data` holds the captured bytes of a packet that was
// `originalLength` bytes long on the wire.
void SortPacket(PacketSorter& sorter, ByteView data, size_t originalLength, double time);

// Builds every stream's timeline and drops streams without a single frame.
std::vector<RtpStream> FinishStreams(PacketSorter& sorter);

}  // namespace mervox::capture
