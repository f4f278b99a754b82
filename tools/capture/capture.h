// Finds the G.723.1 RTP streams in a pcap or pcapng capture and lays each
// one on its timeline, ready to decode. No global state: every call works on
// its own records, so captures can be read side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream_timeline.h"
#include "udp_datagram.h"

namespace mervox::capture {

struct CaptureOptions {
    int payloadType = 4;  // G.723.1's static RTP payload type; dynamic mappings differ
};

enum class CaptureStatus {
    kOk,
    kTruncated,    // the capture ends inside a record: what came before was read
    kNotACapture,  // neither pcap nor pcapng (or not even readable)
};

// What happened to every record of the capture.
struct CaptureCounters {
    uint64_t records = 0;
    uint64_t notIp = 0;             // ARP and other non-IP frames
    uint64_t unsupportedLink = 0;   // records of a link type not decoded
    uint64_t cutShort = 0;          // packets the capture cut short (snap length)
    uint64_t malformedIp = 0;       // impossible IP or UDP header fields
    uint64_t fragments = 0;         // IP fragments (not reassembled)
    uint64_t notUdp = 0;            // TCP, ICMP, ...
    uint64_t notRtp = 0;            // UDP datagrams that are not RTP version 2
    uint64_t malformedRtp = 0;      // RTP whose CSRC list, extension or padding overrun the datagram
    uint64_t otherPayloadType = 0;  // RTP of another payload type
    uint64_t streamPackets = 0;     // RTP packets of the wanted payload type
    uint64_t emptyPackets = 0;      // ... of streams with no frame at all (not reported)
};

struct RtpStream {
    uint32_t ssrc = 0;
    Endpoint source;
    Endpoint destination;
    int payloadType = 4;
    double firstArrival = 0;            // capture time of its first packet, seconds since the epoch
    std::vector<StreamPacket> packets;  // in arrival order
    Timeline timeline;
};

struct CaptureReport {
    CaptureStatus status = CaptureStatus::kOk;
    std::string message;  // why the capture is not one, or where it was cut
    int linkType = -1;
    CaptureCounters counters;
    std::vector<RtpStream> streams;  // in order of their first packet
};

CaptureReport ReadCaptureFile(const std::string& path, const CaptureOptions& options = {});
CaptureReport ReadCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options = {});

// "0x11223344"
std::string SsrcText(uint32_t ssrc);

}  // namespace mervox::capture
