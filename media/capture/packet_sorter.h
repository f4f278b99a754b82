// Sorts captured packets into RTP streams: follows one record from the link
// layer down to the G.723.1 frames and hands it to its stream, or counts why
// it was skipped. A flow becomes a stream only after kConfirmPackets packets
// of whole frames with consistent sequence numbers; until then its packets
// wait (a few per flow). Each flow's call is followed from its first packet
// (signalling/stream_owner.h): the call's SDP tells what its payload types
// carry. Streams idle for kStreamIdleSeconds end. Pieces
// of fragmented datagrams wait for the rest (IpReassembly).
#pragma once

#include <map>
#include <memory>
#include <tuple>

#include "capture/capture.h"
#include "packets/ip_reassembly.h"
#include "packets/rtp_packet.h"
#include "records/record_reader.h"
#include "signalling/sip_reader.h"

namespace mervox::media::capture {

// Idle flows and streams are looked for every this many records; a stream
// must also have missed this many records to count as idle, so that one
// record with a wild capture time ends nothing.
constexpr uint64_t kIdleSweepRecords = 4096;

struct StreamKey {
    uint32_t ssrc;
    net::Endpoint source;
    net::Endpoint destination;
    bool operator<(const StreamKey& o) const
    {
        return std::tie(ssrc, source, destination) < std::tie(o.ssrc, o.source, o.destination);
    }
};

// What the quality meter takes of a G.723.1 packet.
struct QualityArrival {
    quality::RtpArrival rtp;
    uint16_t frames = 0;
    uint16_t frames6300 = 0;
    uint16_t frames5300 = 0;
};

class PacketSorter {
public:
    PacketSorter(const CaptureOptions& options, StreamConsumer& consumer);
    ~PacketSorter();
    PacketSorter(const PacketSorter&) = delete;
    PacketSorter& operator=(const PacketSorter&) = delete;

    void Sort(const records::CaptureRecord& record);
    // Ends every stream; the streams in order of their first packet.
    std::vector<timeline::RtpStream> Finish();
    const CaptureCounters& counters() const { return counters_; }
    const signalling::SipReader& signalling() const { return sip_; }

private:
    struct Candidate {
        uint64_t firstRecord = 0;
        double firstArrival = 0;
        double lastArrival = 0;
        int payloadType = 4;
        signalling::StreamOwner owner;                // its call, from its first packet on
        std::vector<timeline::StreamPacket> pending;  // whole-frame packets, in arrival order
        // Every packet's arrival (misfits too, up to kCandidateArrivals),
        // for the stream's figures once it is one.
        std::vector<QualityArrival> arrivals;
    };
    struct Live;

    void Skip(SkipReason reason) { ++counters_.skipped[reason]; }
    bool TcpSignalling(packets::UdpDatagram& packet, double time);
    // A packet of another payload type that the call's signalling lists
    // beside G.723.1; false when it belongs to no stream.
    bool CallPayload(const StreamKey& key, const packets::RtpPacket& rtp, bool event, double time, int64_t timeNs);
    void ToCandidate(const StreamKey& key, timeline::StreamPacket packet, bool whole, int payloadType,
                     const QualityArrival& arrival, const signalling::StreamOwner& owner);
    void Start(const StreamKey& key, Candidate& candidate);
    void End(std::map<StreamKey, std::unique_ptr<Live>>::iterator live);
    void Sweep();

    CaptureOptions options_;
    signalling::SipReader sip_;
    packets::IpReassembly fragments_;  // pieces of fragmented datagrams
    StreamConsumer& consumer_;
    CaptureCounters counters_;
    double now_ = 0;           // latest capture time seen
    int64_t referenceNs_ = 0;  // the first record's time: the streams' figures count from it
    std::map<StreamKey, Candidate> candidates_;
    std::map<StreamKey, std::unique_ptr<Live>> live_;
    std::map<uint32_t, int> streamsBySsrc_;
    size_t nextId_ = 0;
    std::vector<timeline::RtpStream> ended_;  // in the order they ended
    std::vector<uint64_t> endedFirst_;        // the first record of each
};

}  // namespace mervox::media::capture
