#include "capture/packet_sorter.h"

#include <algorithm>
#include <memory>

#include "packets/link_layer.h"
#include "packets/rtp_packet.h"
#include "packets/tcp_segment.h"

namespace mervox::media::capture {
namespace {

// A flow that is not yet a stream is forgotten after this long without a
// packet, and all of them when there are more than kMaxCandidates at once
// (a flood of one-off datagrams).
constexpr double kCandidateIdleSeconds = 10;
constexpr size_t kMaxCandidates = 65536;
// Arrivals a flow keeps for its figures before it is a stream.
constexpr size_t kCandidateArrivals = 64;
// RTP clock rate of G.723.1 and comfort noise.
constexpr int kClockRate = 8000;

int SequenceDistance(uint16_t a, uint16_t b)
{
    const int d = static_cast<int16_t>(static_cast<uint16_t>(a - b));
    return d < 0 ? -d : d;
}

// Hands a stream's timeline to the consumer (and counts it over time into
// `series`, unless null), and holds it against the packets' arrival.
class FrameRelay : public timeline::TimelineOutput {
public:
    FrameRelay(StreamConsumer& consumer, const timeline::StreamInfo& info, quality::StreamSeries* series)
        : consumer_(consumer), id_(info.id), series_(series), anchors(info.firstArrival)
    {}
    void Frame(const timeline::StreamPacket& packet, const packets::FrameSlice& frame) override
    {
        anchors.Frame(packet.index, packet.arrival, !IsSpeech(frame.type));
        if (series_) {
            const bool speech =
                frame.type == stream::FrameType::kRate6300 || frame.type == stream::FrameType::kRate5300;
            series_->Frames(frames_++,
                            speech ? quality::StreamSeries::Slot::kSpeech : quality::StreamSeries::Slot::kSilence, 1);
        }
        if (!stopped_)
            stopped_ = !consumer_.Frames(id_, packet.payload.data() + frame.offset,
                                         mervox_frame_bytes(packet.payload[frame.offset]), 1);
    }
    void Lost(uint64_t frames) override
    {
        anchors.Lost(frames);
        if (series_) {
            series_->Frames(frames_, quality::StreamSeries::Slot::kLost, frames);
            frames_ += frames;
        }
        if (!stopped_ && frames > 0)
            stopped_ = !consumer_.Frames(id_, nullptr, 0, frames);
    }

private:
    StreamConsumer& consumer_;
    size_t id_;
    quality::StreamSeries* series_;
    uint64_t frames_ = 0;  // on the timeline so far
    bool stopped_ = false;

public:
    timeline::ArrivalAnchors anchors;
};

}  // namespace

struct PacketSorter::Live {
    Live(const timeline::StreamInfo& info, uint64_t record, const CaptureOptions& options, StreamConsumer& consumer,
         int64_t reference)
        : stream(info),
          firstRecord(record),
          output(std::make_unique<FrameRelay>(consumer, info, options.series ? &series : nullptr)),
          builder(*output, options.timeline),
          meter(reference)
    {
        if (options.series)
            meter.KeepSeries();
    }
    timeline::StreamInfo stream;  // its report (RtpStream) is made when it ends
    signalling::StreamOwner owner;
    uint64_t callPayloadPackets = 0;
    uint64_t firstRecord;
    uint64_t lastRecord = 0;
    double lastArrival = 0;
    quality::StreamSeries series;        // the timeline over time (CaptureOptions::series)
    std::unique_ptr<FrameRelay> output;  // relays the timeline to the consumer
    timeline::TimelineBuilder builder;
    packets::TelephoneEvents events;
    quality::StreamQualityMeter meter;
};

PacketSorter::PacketSorter(const CaptureOptions& options, StreamConsumer& consumer, CallTracker::Closed closed)
    : options_(options), consumer_(consumer), tracker_(std::move(closed))
{}

PacketSorter::~PacketSorter() = default;

void PacketSorter::Sort(const records::CaptureRecord& record)
{
    const uint64_t number = ++counters_.records;
    now_ = record.time;
    if (number == 1) {
        referenceNs_ = record.timeNs;
        clock_ = previous_ = nextSweep_ = record.time;
    }
    clock_ = std::max(clock_, std::min(previous_, record.time));
    previous_ = record.time;
    if (number % kIdleSweepRecords == 0 || clock_ >= nextSweep_) {
        Sweep();
        nextSweep_ = clock_ + kSweepSeconds;
    }
    if (record.linkType < 0)
        return Skip(SkipReason::kUnknownInterface);
    const bool cutByCapture = record.data.size < record.originalLength;

    net::ByteView ip;
    switch (packets::ExtractIp(record.linkType, record.data, ip)) {
    case packets::LinkResult::kIp:
        break;
    case packets::LinkResult::kNotIp:
        return Skip(SkipReason::kNotIp);
    case packets::LinkResult::kTruncated:
        return Skip(SkipReason::kCutShort);
    case packets::LinkResult::kUnsupported:
        return Skip(SkipReason::kUnsupportedLink);
    }

    packets::UdpDatagram udp;
    packets::UdpResult parsed = packets::ParseUdp(ip, udp);
    if (parsed == packets::UdpResult::kFragment) {
        // Held until its datagram is whole; the pieces of one given up are
        // counted as skipped.
        net::ByteView whole;
        const bool complete = fragments_.Add(udp, record.time, whole);
        counters_.skipped[SkipReason::kFragment] += fragments_.TakeDropped();
        if (!complete)
            return;
        counters_.joinedFragments += fragments_.completedPieces() - 1;
        udp = packets::UdpDatagram{};
        parsed = packets::ParseUdp(whole, udp);
    }
    switch (parsed) {
    case packets::UdpResult::kUdp:
        break;
    case packets::UdpResult::kNotUdp:
        if (udp.protocol == packets::kProtoTcp && TcpSignalling(udp, record.time)) {
            ++counters_.signallingPackets;
            return;
        }
        return Skip(SkipReason::kNotUdp);
    case packets::UdpResult::kFragment:  // a reassembled datagram is whole
        return Skip(SkipReason::kMalformedIp);
    case packets::UdpResult::kTruncated:
        return Skip(cutByCapture ? SkipReason::kCutShort : SkipReason::kMalformedIp);
    case packets::UdpResult::kMalformed:
        return Skip(SkipReason::kMalformedIp);
    }

    if (sip_.Datagram(udp.source, udp.destination, udp.payload, record.time)) {
        ++counters_.signallingPackets;
        return;
    }

    packets::RtpPacket rtp;
    switch (packets::ParseRtp(udp.payload, rtp)) {
    case packets::RtpResult::kRtp:
        break;
    case packets::RtpResult::kNotRtp:
        return Skip(SkipReason::kNotRtp);
    case packets::RtpResult::kMalformed:
        return Skip(SkipReason::kMalformedRtp);
    }
    // The flow's call, and what its session descriptions say the payload
    // type carries.
    const StreamKey key{rtp.ssrc, udp.source, udp.destination};
    const auto live = live_.find(key);
    signalling::StreamOwner fresh;
    fresh.firstPacket = record.time;
    signalling::StreamOwner* owner = &fresh;
    if (live != live_.end()) {
        owner = &live->second->owner;
    } else if (const auto candidate = candidates_.find(key); candidate != candidates_.end()) {
        owner = &candidate->second.owner;
    }
    if (sip_.HasMedia() || owner->dialog != signalling::kNoDialog)
        sip_.Follow(udp.source, udp.destination, record.time, *owner);
    const signalling::PayloadUse use = sip_.Use(*owner, udp.source, udp.destination, rtp.payloadType);
    if (use == signalling::PayloadUse::kEncrypted)
        return Skip(SkipReason::kEncrypted);
    if (rtp.payloadType != options_.payloadType && use != signalling::PayloadUse::kG7231) {
        const bool event = use == signalling::PayloadUse::kTelephoneEvent;
        if ((event || use == signalling::PayloadUse::kComfortNoise) &&
            CallPayload(key, rtp, event, record.time, record.timeNs))
            return;
        return Skip(SkipReason::kOtherPayloadType);
    }

    timeline::StreamPacket p;
    p.sequence = rtp.sequence;
    p.timestamp = rtp.timestamp;
    p.arrival = record.time;
    p.payload.assign(rtp.payload.data, rtp.payload.data + rtp.payload.size);
    p.payloadCutShort = !packets::SplitFrames(rtp.payload, p.frames);
    const bool whole = packets::IsWholeFrames(rtp.payload);
    QualityArrival arrival;
    arrival.rtp = {record.timeNs, rtp.sequence, rtp.timestamp, rtp.marker, rtp.payloadType, kClockRate};
    arrival.frames = static_cast<uint16_t>(std::min<size_t>(p.frames.size(), UINT16_MAX));
    for (const packets::FrameSlice& f : p.frames) {
        if (f.type == stream::FrameType::kRate6300)
            ++arrival.frames6300;
        else if (f.type == stream::FrameType::kRate5300)
            ++arrival.frames5300;
    }

    if (live == live_.end())
        return ToCandidate(key, std::move(p), whole, rtp.payloadType, arrival, *owner);
    ++counters_.streamPackets;
    live->second->meter.Audio(arrival.rtp, arrival.frames, arrival.frames6300, arrival.frames5300);
    live->second->lastRecord = number;
    live->second->lastArrival = record.time;
    live->second->builder.Add(std::move(p));
}

bool PacketSorter::TcpSignalling(packets::UdpDatagram& packet, double time)
{
    packets::TcpSegment tcp;
    if (!packets::ParseTcp(packet.payload, tcp))
        return false;
    packet.source.port = tcp.sourcePort;
    packet.destination.port = tcp.destinationPort;
    signalling::TcpSegmentInfo segment;
    segment.sequence = tcp.sequence;
    segment.syn = tcp.syn;
    segment.fin = tcp.fin;
    segment.reset = tcp.reset;
    segment.payload = tcp.payload;
    return sip_.Segment(packet.source, packet.destination, segment, time);
}

bool PacketSorter::CallPayload(const StreamKey& key, const packets::RtpPacket& rtp, bool event, double time,
                               int64_t timeNs)
{
    const auto live = live_.find(key);
    if (live == live_.end())
        return false;
    Live& l = *live->second;
    ++counters_.callPayloadPackets;
    ++l.callPayloadPackets;
    l.lastRecord = counters_.records;
    l.lastArrival = time;
    if (event)
        l.events.Add(rtp.payload, rtp.timestamp, time);
    // Telephone events keep the event's start as their timestamp: no clock.
    l.meter.Other({timeNs, rtp.sequence, rtp.timestamp, rtp.marker, rtp.payloadType, event ? 0 : kClockRate});
    return true;
}

void PacketSorter::ToCandidate(const StreamKey& key, timeline::StreamPacket packet, bool whole, int payloadType,
                               const QualityArrival& arrival, const signalling::StreamOwner& owner)
{
    if (!whole)
        return Skip(SkipReason::kNotG7231);
    auto [found, added] = candidates_.try_emplace(key);
    Candidate& c = found->second;
    if (added) {
        c.firstRecord = counters_.records;
        c.firstArrival = packet.arrival;
        c.owner = owner;
    }
    c.lastArrival = packet.arrival;
    c.payloadType = payloadType;
    if (c.arrivals.size() < kCandidateArrivals)
        c.arrivals.push_back(arrival);
    // Packets that do not fit this one's sequence number (a repeat, or far
    // off) are no sign of a stream.
    auto misfit = [&](const timeline::StreamPacket& q) {
        const int d = SequenceDistance(q.sequence, packet.sequence);
        return d == 0 || d > kConfirmSpan;
    };
    const size_t before = c.pending.size();
    c.pending.erase(std::remove_if(c.pending.begin(), c.pending.end(), misfit), c.pending.end());
    counters_.skipped[SkipReason::kTooFewPackets] += before - c.pending.size();
    c.pending.push_back(std::move(packet));
    if (c.pending.size() >= kConfirmPackets) {
        Start(key, c);
        candidates_.erase(found);
    }
}

void PacketSorter::Start(const StreamKey& key, Candidate& candidate)
{
    timeline::StreamInfo info;
    info.id = nextId_++;
    info.ssrc = key.ssrc;
    info.source = key.source;
    info.destination = key.destination;
    info.payloadType = candidate.payloadType;
    info.firstArrival = candidate.firstArrival;
    info.number = ++streamsBySsrc_[key.ssrc];
    auto live = std::make_unique<Live>(info, candidate.firstRecord, options_, consumer_, referenceNs_);
    live->owner = std::move(candidate.owner);
    for (const QualityArrival& a : candidate.arrivals)
        live->meter.Audio(a.rtp, a.frames, a.frames6300, a.frames5300);
    live->lastRecord = counters_.records;
    live->lastArrival = candidate.lastArrival;
    consumer_.StreamStarted(info.id, info);
    liveByAddresses_.emplace(std::make_pair(key.source, key.destination), live.get());
    for (timeline::StreamPacket& p : candidate.pending) {
        ++counters_.streamPackets;
        live->builder.Add(std::move(p));
    }
    live_.emplace(key, std::move(live));
}

void PacketSorter::End(std::map<StreamKey, std::unique_ptr<Live>>::iterator live, bool hold)
{
    Live& l = *live->second;
    l.builder.Finish();
    timeline::RtpStream s;
    static_cast<timeline::StreamInfo&>(s) = l.stream;
    s.stats = l.builder.stats();
    s.lastArrival = l.lastArrival;
    s.callPayloadPackets = l.callPayloadPackets;
    s.dtmf = l.events.events();
    s.quality = l.meter.Finish();
    s.timelineSeries = std::move(l.series);
    s.anchors = l.output->anchors.anchors();
    s.firstRecord = l.firstRecord;
    if (l.owner.attached) {
        const bool moved = l.owner.moveCount > 0;
        s.dialog = moved ? l.owner.firstDialog : l.owner.dialog;
        s.fromCaller = moved ? l.owner.firstFromCaller : l.owner.fromCaller;
        for (const signalling::StreamMove& m : l.owner.moves)
            s.moves.push_back({m.time, m.from, m.to});
        s.moveCount = l.owner.moveCount;
    }
    consumer_.StreamEnded(s.id, s);
    const auto [from, to] = liveByAddresses_.equal_range({s.source, s.destination});
    for (auto i = from; i != to; ++i)
        if (i->second == &l) {
            liveByAddresses_.erase(i);
            break;
        }
    live_.erase(live);
    tracker_.DialogsKnown(sip_.dialogs().count());
    tracker_.StreamEnded(
        std::move(s), [this](const net::Endpoint& a, const net::Endpoint& b) { return LiveBetween(a, b); }, hold);
}

LiveStream PacketSorter::ViewOf(const Live& l) const
{
    LiveStream v;
    v.id = l.stream.id;
    v.span = {l.stream.source, l.stream.destination, l.stream.firstArrival, l.lastArrival};
    if (l.owner.attached)
        v.dialog = l.owner.moveCount > 0 ? l.owner.firstDialog : l.owner.dialog;
    return v;
}

std::vector<LiveStream> PacketSorter::LiveBetween(const net::Endpoint& source, const net::Endpoint& destination) const
{
    std::vector<LiveStream> live;
    const auto [from, to] = liveByAddresses_.equal_range({source, destination});
    for (auto i = from; i != to; ++i)
        live.push_back(ViewOf(*i->second));
    return live;
}

void PacketSorter::EndStreams(const std::vector<size_t>& ids)
{
    for (auto l = live_.begin(); l != live_.end();) {
        const auto current = l++;
        if (std::find(ids.begin(), ids.end(), current->second->stream.id) != ids.end())
            End(current);
    }
}

void PacketSorter::CloseCalls()
{
    tracker_.DialogsKnown(sip_.dialogs().count());
    signalling::SipDialogs& dialogs = sip_.dialogs();
    std::vector<std::pair<size_t, calls::CallClose>> due;
    for (const size_t id : tracker_.openDialogs())
        if (const signalling::Dialog* d = dialogs.Find(id))
            if (const auto why = CallTracker::Due(*d, clock_))
                due.emplace_back(id, *why);
    if (due.empty())
        return;
    const capture::LiveOn live = [this](const net::Endpoint& a, const net::Endpoint& b) { return LiveBetween(a, b); };
    std::map<size_t, std::vector<LiveStream>> own;  // the calls' live streams
    for (const auto& entry : live_) {
        const LiveStream v = ViewOf(*entry.second);
        if (v.dialog != signalling::kNoDialog)
            own[v.dialog].push_back(v);
    }
    for (const auto& [id, why] : due) {
        // Its streams end with it, and the streams in no call that mirror them.
        const std::vector<LiveStream> mine = own.count(id) ? own[id] : std::vector<LiveStream>();
        std::vector<size_t> ending = tracker_.LiveMirrorsOf(id, mine, live);
        for (const LiveStream& v : mine)
            ending.push_back(v.id);
        if (!ending.empty())
            EndStreams(ending);
        tracker_.CloseDialog(id, *dialogs.Find(id), why, live);
        // An idle call takes no more streams; its record was taken.
        if (why == calls::CallClose::kIdle)
            dialogs.CloseNow(id);
        dialogs.Release(id);
    }
}

void PacketSorter::Sweep()
{
    sip_.Sweep(now_);
    fragments_.Expire(now_);
    counters_.skipped[SkipReason::kFragment] += fragments_.TakeDropped();
    for (auto c = candidates_.begin(); c != candidates_.end();) {
        if (candidates_.size() > kMaxCandidates || c->second.lastArrival < now_ - kCandidateIdleSeconds) {
            counters_.skipped[SkipReason::kTooFewPackets] += c->second.pending.size();
            c = candidates_.erase(c);
        } else {
            ++c;
        }
    }
    for (auto l = live_.begin(); l != live_.end();) {
        const auto current = l++;
        if (current->second->lastArrival < clock_ - kStreamIdleSeconds)
            End(current);
    }
    CloseCalls();
    consumer_.Progress(
        {counters_.records, clock_, live_.size(), tracker_.openDialogs().size(), tracker_.closedCalls()});
}

void PacketSorter::Tick(double now)
{
    if (now <= clock_)
        return;
    now_ = previous_ = clock_ = now;
    Sweep();
    nextSweep_ = clock_ + kSweepSeconds;
}

void PacketSorter::Finish(calls::CallClose why)
{
    fragments_.Clear();
    counters_.skipped[SkipReason::kFragment] += fragments_.TakeDropped();
    for (const auto& c : candidates_)
        counters_.skipped[SkipReason::kTooFewPackets] += c.second.pending.size();
    candidates_.clear();
    // In the order they were recognised, as they were numbered.
    std::vector<std::map<StreamKey, std::unique_ptr<Live>>::iterator> open;
    for (auto l = live_.begin(); l != live_.end(); ++l)
        open.push_back(l);
    std::sort(open.begin(), open.end(),
              [](const auto& a, const auto& b) { return a->second->stream.id < b->second->stream.id; });
    for (const auto l : open)
        End(l, true);
    tracker_.DialogsKnown(sip_.dialogs().count());
    tracker_.CloseAll(sip_.dialogs(), why);
    for (size_t id = 0; id < sip_.dialogs().count(); ++id)
        sip_.dialogs().Release(id);
}

}  // namespace mervox::media::capture
