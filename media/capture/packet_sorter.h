// Sorts captured packets into RTP streams: follows one record from the link
// layer down to the G.723.1 frames and hands it to its stream, or counts why
// it was skipped. A flow becomes a stream only after kConfirmPackets packets
// of whole frames with consistent sequence numbers; until then its packets
// wait (a few per flow). Each flow's call is followed from its first packet
// (signalling/stream_owner.h): the call's SDP tells what its payload types
// carry. Streams idle for kStreamIdleSeconds end, and calls close as they
// end (call_tracker.h), their live streams with them. Pieces of fragmented
// datagrams wait for the rest (IpReassembly).
//
// Idleness is judged by the capture's clock: the earlier of the last two
// records' times, never going back (so that one record with a wild time
// ends nothing), or a time the caller gives when a live input has been
// quiet (Tick).
#pragma once

#include <map>
#include <memory>
#include <tuple>

#include "capture/call_tracker.h"
#include "capture/capture.h"
#include "packets/ip_reassembly.h"
#include "packets/rtp_packet.h"
#include "records/record_reader.h"
#include "signalling/sip_reader.h"

namespace mervox::media::capture {

// Idle flows, streams and calls are looked for every this many records, and
// whenever the capture's clock has moved on by kSweepSeconds.
constexpr uint64_t kIdleSweepRecords = 4096;
constexpr double kSweepSeconds = 1;

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
    // `closed`: each call as it closes (after every StreamEnded of its streams).
    PacketSorter(const CaptureOptions& options, StreamConsumer& consumer, CallTracker::Closed closed);
    ~PacketSorter();
    PacketSorter(const PacketSorter&) = delete;
    PacketSorter& operator=(const PacketSorter&) = delete;

    void Sort(const records::CaptureRecord& record);
    // No record came, but the capture's clock reads `now` (a live input
    // that has been quiet): streams and calls idle by then end.
    void Tick(double now);
    // Ends every stream and closes every call (`why`: the capture ended, or
    // the reading was stopped).
    void Finish(calls::CallClose why);
    const CaptureCounters& counters() const { return counters_; }
    uint64_t streamCount() const { return nextId_; }
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
    // `hold`: every stream is ending, their calls are looked for after.
    void End(std::map<StreamKey, std::unique_ptr<Live>>::iterator live, bool hold = false);
    // Ends the live streams with these ids.
    void EndStreams(const std::vector<size_t>& ids);
    std::vector<LiveStream> LiveBetween(const net::Endpoint& source, const net::Endpoint& destination) const;
    LiveStream ViewOf(const Live& live) const;
    void CloseCalls();
    void Sweep();

    CaptureOptions options_;
    signalling::SipReader sip_;
    packets::IpReassembly fragments_;  // pieces of fragmented datagrams
    StreamConsumer& consumer_;
    CaptureCounters counters_;
    double now_ = 0;           // latest capture time seen
    double previous_ = 0;      // the record's before it
    double clock_ = 0;         // the capture's clock (see above)
    double nextSweep_ = 0;     // of the clock
    int64_t referenceNs_ = 0;  // the first record's time: the streams' figures count from it
    std::map<StreamKey, Candidate> candidates_;
    std::map<StreamKey, std::unique_ptr<Live>> live_;
    std::multimap<std::pair<net::Endpoint, net::Endpoint>, const Live*> liveByAddresses_;
    std::map<uint32_t, int> streamsBySsrc_;
    size_t nextId_ = 0;
    CallTracker tracker_;
};

}  // namespace mervox::media::capture
