// One G.723.1 RTP stream of a capture: who sent it to whom, how its
// packets arrived, its timeline's counts and where its samples lie
// against the arrivals. Filled while the capture is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/endpoint.h"
#include "packets/telephone_event.h"
#include "quality/stream_quality.h"
#include "timeline/arrival_anchors.h"
#include "timeline/stream_timeline.h"

namespace mervox::media::timeline {

// No SIP call (signalling::kNoDialog).
constexpr size_t kNoDialog = SIZE_MAX;

// A stream's move from one SIP call to another (indexes into the capture's
// dialogs), at the time of the packet that found it in the new one.
struct DialogMove {
    double time = 0;
    size_t from = kNoDialog;
    size_t to = kNoDialog;
};

struct StreamInfo {
    size_t id = 0;  // streams count from 0 in the order they are recognised
    uint32_t ssrc = 0;
    net::Endpoint source;
    net::Endpoint destination;
    int payloadType = 4;      // as the packets carry it (a dynamic one mapped by SIP/SDP)
    double firstArrival = 0;  // capture time of its first packet, seconds since the epoch
    int number = 1;           // 1 for the first stream with this SSRC, 2 for the second, ...
};

struct RtpStream : StreamInfo {
    TimelineStats stats;
    double lastArrival = 0;  // capture time of its last packet
    // Packets of the call's other payload types (RFC 4733 telephone events,
    // comfort noise, as its session descriptions list them) on this stream's
    // SSRC and addresses: received, not lost (they are no G.723.1 frames).
    uint64_t callPayloadPackets = 0;
    std::vector<packets::DtmfEvent> dtmf;
    // How it arrived, as Wireshark's RTP stream analysis and RFC 3550 count
    // it (every packet on its SSRC and addresses, in arrival order), and
    // what a modelled receiver's jitter buffer made of it.
    quality::StreamQuality quality;
    // Its timeline over time: speech, silence and lost frames (with
    // CaptureOptions::series only).
    quality::StreamSeries timelineSeries;
    // Where its samples lie against the packets' arrival (arrival_anchors.h);
    // anchors.size() - 1 re-anchorings.
    std::vector<StreamAnchor> anchors{StreamAnchor{}};
    // The SIP call it belongs to (signalling/stream_owner.h: its SDP named
    // the stream's addresses and the other party answered), an index into
    // the capture's dialogs, or kNoDialog; whether that call's caller sent
    // it; and the calls it moved to later (all of them counted, the first
    // 16 kept). Its call is the first one.
    size_t dialog = kNoDialog;
    bool fromCaller = false;
    std::vector<DialogMove> moves;
    uint64_t moveCount = 0;
    // The capture's record (counted from 1) of its first packet: streams
    // are listed in this order.
    uint64_t firstRecord = 0;
    // Samples its timeline decodes to: one frame's worth per slot.
    uint64_t Samples() const { return stats.TimelineFrames() * static_cast<uint64_t>(kTicksPerFrame); }
};

}  // namespace mervox::media::timeline
