// Input: the bytes of a pcap or pcapng capture. The capture reader must
// return a consistent report, whatever the timeline rules make of the
// packets: every packet is placed, dropped as a duplicate or dropped as
// late; the statistics add up; each stream's slots are its timeline; no
// stream receives more concealment than its budget, nor the capture more
// than its real frames pay for.
// The same bytes, read as a list of packets, also go straight to the
// timeline (most inputs are no capture, and the rules are reached sooner).
// Each stream's slots, as 240 samples each, go to an output of its own in an
// OutputPool with small limits, in memory: the pool must keep within its
// limits on open outputs and held samples whatever the streams, and give
// each output exactly its samples. Each call's streams are placed as its
// recording would have them: in order, each stream within its samples and
// never over itself, the anchors as the stream's frames gave them.
// The capture's IP fragments also go to a reassembly with small bounds:
// it must stay within them, and account for every piece once.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "calls/call_audio.h"
#include "capture/capture.h"
#include "check.h"
#include "output/output_pool.h"
#include "packets/ip_reassembly.h"
#include "packets/link_layer.h"
#include "quality/stream_series.h"
#include "records/record_reader.h"
#include "report/html_report.h"
#include "signalling/stream_owner.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

// A consumer may stop a stream: after this many slots, which timestamps
// chosen by the input can ask for in one packet.
constexpr uint64_t kMaxSlots = 600;

// Decoded audio that is quiet throughout: every re-anchoring that may move
// into a pause of the audio does.
class QuietAudio : public media::calls::SampleSource {
public:
    media::base::Status Read(size_t, uint64_t, int16_t* samples, size_t count) override
    {
        std::fill(samples, samples + count, int16_t{0});
        return media::base::Status::Ok();
    }
};

// One output open, a frame held each, two in all.
const media::output::OutputPool::Limits kPoolLimits = {1, 480, 2 * 480};

// An output in memory that counts itself among the open ones unless parked.
class MemorySink : public media::output::PcmSink {
public:
    MemorySink(const std::string& path, std::vector<uint8_t>& bytes, size_t& open)
        : PcmSink(path, media::output::PcmFormat::kWav), bytes_(bytes), open_(open)
    {
        ++open_;
        Require(Start().ok(), "a memory output did not start");
    }
    ~MemorySink() override
    {
        AbandonUnlessFinished();
        Close();
    }
    bool CanPark() const override { return true; }

protected:
    media::base::Status WriteBytes(const uint8_t* bytes, size_t size) override
    {
        Require(!closed_, "an output written while parked");
        bytes_.insert(bytes_.end(), bytes, bytes + size);
        return media::base::Status::Ok();
    }
    media::base::Status Complete(uint64_t dataBytes) override
    {
        Require(bytes_.size() == media::output::kWavHeaderBytes + dataBytes, "an output's length is not its samples'");
        Close();
        return media::base::Status::Ok();
    }
    void Abandon() override { Close(); }
    media::base::Status Suspend() override
    {
        Close();
        return media::base::Status::Ok();
    }
    media::base::Status Reopen() override
    {
        Require(closed_, "an open output reopened");
        closed_ = false;
        ++open_;
        return media::base::Status::Ok();
    }

private:
    void Close()
    {
        if (!closed_)
            --open_;
        closed_ = true;
    }
    std::vector<uint8_t>& bytes_;
    size_t& open_;
    bool closed_ = false;
};

// The sample a stream's slot gives its output (all 240 of the slot).
int16_t SampleOf(size_t id, uint64_t slot) { return static_cast<int16_t>(id * 977 + slot * 13); }

class Checker : public media::capture::StreamConsumer {
public:
    Checker()
        : pool_(kPoolLimits,
                [this](const std::string& path) -> media::base::Result<std::unique_ptr<media::output::PcmSink>> {
                    return std::unique_ptr<media::output::PcmSink>(
                        new MemorySink(path, outputs_[std::stoul(path)], openOutputs_));
                })
    {}

    void StreamStarted(size_t id, const media::timeline::StreamInfo& info) override
    {
        Require(id == started_++, "stream ids are not consecutive");
        Require(info.number >= 1, "stream number below 1");
        frames_[id] = 0;
        pool_.Add(id, std::to_string(id));
    }
    bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) override
    {
        Require(frames_.count(id) == 1, "slots of a stream that never started");
        Require(frames_[id] < kMaxSlots, "slots of a stream after it was stopped");
        Require(frame ? count == 1 && size == mervox_frame_bytes(frame[0]) : count > 0 && size == 0,
                "a frame is not one slot of its type's length, or a run of missing slots is empty");
        const uint64_t next = std::min(frames_[id] + count, kMaxSlots);
        for (uint64_t slot = frames_[id]; slot < next; ++slot) {
            const std::vector<int16_t> pcm(240, SampleOf(id, slot));
            Require(pool_.Write(id, pcm.data(), pcm.size()).ok(), "an output in memory failed");
            Require(pool_.openFiles() <= kPoolLimits.openFiles && openOutputs_ <= kPoolLimits.openFiles,
                    "more outputs open than the pool's limit");
            Require(pool_.heldBytes() <= kPoolLimits.heldBytes, "more samples held than the pool's limit");
        }
        frames_[id] = next;
        return frames_[id] < kMaxSlots;
    }
    void StreamEnded(size_t id, const media::timeline::RtpStream& s) override
    {
        Require(frames_.count(id) == 1, "a stream ended that never started");
        Require(ended_.insert(id).second, "a stream ended twice");
        Require(pool_.Finish(id).ok(), "an output in memory did not finish");
        const std::vector<uint8_t>& bytes = outputs_[id];
        Require(bytes.size() == media::output::kWavHeaderBytes + frames_[id] * 480,
                "an output is not its stream's samples");
        for (size_t at = media::output::kWavHeaderBytes; at + 1 < bytes.size(); at += 2)
            Require(static_cast<int16_t>(bytes[at] | bytes[at + 1] << 8) ==
                        SampleOf(id, (at - media::output::kWavHeaderBytes) / 480),
                    "an output's samples are not its stream's, in order");
        outputs_.erase(id);
        const media::timeline::TimelineStats& t = s.stats;
        Require(frames_[id] == std::min(t.TimelineFrames(), kMaxSlots),
                "the slots handed out differ from the timeline");
        Require(t.speechFrames + t.silenceFrames == t.frames, "speech and silence frames do not add up");
        Require(t.duplicates + t.late + t.reordered <= t.packets, "more packets dropped or moved than received");
        Require(t.packets >= media::capture::kConfirmPackets, "a stream of fewer packets than recognising one takes");
        // Each placed packet's frames, at most.
        Require(t.strayTimestamps <= t.packets, "more stray timestamps than packets");
        Require(t.sequenceRuns < t.packets, "more sequence runs than packets");
        // The whole concealment a stream can get: ten per real frame, and the
        // allowance only once it has proved real (the capture-time part is
        // the smaller one or not).
        const uint64_t real = t.speechFrames + t.descriptorFrames;
        Require(t.lostFrames <= media::timeline::ConcealmentLimit(real, media::capture::CaptureOptions().timeline),
                "concealment beyond the stream's budget");
        realFrames_ += real;
        lostFrames_ += t.lostFrames;
    }

    size_t started() const { return started_; }
    size_t ended() const { return ended_.size(); }
    uint64_t realFrames() const { return realFrames_; }
    uint64_t lostFrames() const { return lostFrames_; }

private:
    uint64_t realFrames_ = 0;  // of every stream that ended
    uint64_t lostFrames_ = 0;
    std::map<size_t, std::vector<uint8_t>> outputs_;  // by stream id
    size_t openOutputs_ = 0;
    media::output::OutputPool pool_;
    size_t started_ = 0;
    std::map<size_t, uint64_t> frames_;
    std::set<size_t> ended_;
};

// Counts what the timeline lays out.
class Tally : public media::timeline::TimelineOutput {
public:
    void Frame(const media::timeline::StreamPacket& packet, const media::packets::FrameSlice& frame) override
    {
        Require(frame.offset + mervox_frame_bytes(packet.payload[frame.offset]) <= packet.payload.size(),
                "frame runs past its payload");
        Require(static_cast<int>(frame.type) == (packet.payload[frame.offset] & 3),
                "frame type is not its first byte's");
        ++frames;
    }
    void Lost(uint64_t count) override
    {
        Require(count > 0 && count <= static_cast<uint64_t>(media::timeline::kMaxGapFrames),
                "a run of lost frames out of range");
        lost += count;
    }
    uint64_t frames = 0;
    uint64_t lost = 0;
};

// Every 8 bytes one packet: sequence number (2), timestamp (4), frame types
// (1: the count less one in the top two bits, then a type per two bits),
// arrival step in 10 ms (1). The first byte's low bit lifts the concealment
// limit; the next one asks for the allowance to be earned, as in a capture.
void CheckTimeline(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    media::timeline::TimelineRules rules;
    rules.limitConcealment = (data[0] & 1) == 0;
    rules.realFramesForAllowance = (data[0] & 2) ? media::timeline::kRealFramesForAllowance : 0;
    Tally tally;
    media::timeline::TimelineBuilder builder(tally, rules);
    double arrival = 0;
    uint64_t offered = 0, packets = 0;
    for (size_t at = 1; at + 8 <= size; at += 8) {
        const uint8_t* r = data + at;
        media::timeline::StreamPacket p;
        p.sequence = static_cast<uint16_t>(r[0] << 8 | r[1]);
        p.timestamp = static_cast<uint32_t>(r[2]) << 24 | static_cast<uint32_t>(r[3]) << 16 |
                      static_cast<uint32_t>(r[4]) << 8 | r[5];
        arrival += r[7] * 0.01;
        p.arrival = arrival;
        const int count = (r[6] >> 6) + 1;
        for (int k = 0; k < count; ++k) {
            const auto type = static_cast<uint8_t>((r[6] >> (2 * k)) & 3);
            p.frames.push_back({static_cast<media::stream::FrameType>(type), static_cast<uint16_t>(p.payload.size())});
            p.payload.push_back(type);
            p.payload.resize(p.payload.size() + mervox_frame_bytes(type) - 1, 0x55);
        }
        offered += static_cast<uint64_t>(count);
        ++packets;
        builder.Add(std::move(p));
    }
    builder.Finish();
    const media::timeline::TimelineStats& t = builder.stats();
    Require(t.packets == packets, "packets counted wrong");
    Require(tally.frames == t.frames && tally.lost == t.lostFrames, "the timeline and its statistics differ");
    Require(t.frames + t.overlapping <= offered, "more frames placed than the packets held");
    Require(t.duplicates + t.late <= t.packets, "more packets dropped than received");
    const uint64_t real = t.speechFrames + t.descriptorFrames;
    Require(t.lostFrames <= media::timeline::ConcealmentLimit(real, rules), "concealment beyond the stream's budget");
}

// The capture's IP fragments through a reassembly bounded to a few
// datagrams (1 KB per source address, 4 KB in all): every piece ends up
// in a datagram made whole or among those given up, once.
void CheckFragments(const uint8_t* data, size_t size)
{
    std::string error;
    const std::unique_ptr<media::records::RecordReader> reader =
        media::records::RecordReader::Open(media::records::MemoryInput(data, size), &error);
    if (!reader)
        return;
    const media::packets::IpReassembly::Limits limits{4096, 1024};
    media::packets::IpReassembly reassembly(limits);
    media::records::CaptureRecord record;
    uint64_t pieces = 0, accounted = 0;
    while (reader->Next(record) == media::records::RecordResult::kRecord) {
        media::net::ByteView ip;
        media::packets::UdpDatagram piece;
        if (media::packets::ExtractIp(record.linkType, record.data, ip) != media::packets::LinkResult::kIp ||
            media::packets::ParseUdp(ip, piece) != media::packets::UdpResult::kFragment)
            continue;
        ++pieces;
        media::net::ByteView whole;
        if (reassembly.Add(piece, record.time, whole)) {
            accounted += reassembly.completedPieces();
            media::packets::UdpDatagram datagram;
            Require(media::packets::ParseUdp(whole, datagram) != media::packets::UdpResult::kFragment,
                    "a datagram made whole is still a piece");
        }
        accounted += reassembly.TakeDropped();
        Require(reassembly.heldBytes() <= limits.bytes, "fragments held beyond the bound");
    }
    reassembly.Clear();
    accounted += reassembly.TakeDropped();
    Require(accounted == pieces && reassembly.heldBytes() == 0, "pieces of fragments lost or counted twice");
}

// Each stream's figures over time add up to its totals, and the HTML page
// of its calls stays within its size and holds no markup of the capture's.
void CheckReportPage(const media::capture::CaptureReport& report)
{
    for (const media::timeline::RtpStream& s : report.streams) {
        uint64_t speech = 0, silence = 0, lost = 0, packets = 0;
        int64_t lostPackets = 0;
        for (const media::quality::SeriesBucket& b : s.timelineSeries.buckets()) {
            speech += b.speechFrames;
            silence += b.silenceFrames;
            lost += b.lostFrames;
        }
        for (const media::quality::SeriesBucket& b : s.quality.arrivals.buckets()) {
            packets += b.packets;
            lostPackets += b.lostPackets;
        }
        Require(speech == s.stats.speechFrames && silence == s.stats.silenceFrames && lost == s.stats.lostFrames,
                "the timeline over time does not add up to the stream's frames");
        Require(packets == s.quality.rtp.packets && lostPackets == s.quality.rtp.lost,
                "the arrivals over time do not add up to the stream's packets and losses");
        Require(s.timelineSeries.buckets().size() <= media::quality::kSeriesBuckets &&
                    s.quality.arrivals.buckets().size() <= media::quality::kSeriesBuckets,
                "more buckets than the bound");
    }
    mervox::media::report::ReportInput input;
    input.captureName = "fuzz.pcap";
    input.capture = &report;
    input.pagePath = "/pages/fuzz.html";
    input.workingDirectory = "/";
    const std::string page = mervox::media::report::ReportPage(input);
    Require(page.size() <= mervox::media::report::kMaxPageBytes, "a report page past its bound");
    Require(page.find("<script") == std::string::npos && page.find("<SCRIPT") == std::string::npos,
            "a script element in the report page");
}

}  // namespace

int RunCaptureReader(const uint8_t* data, size_t size)
{
    // The bytes in a buffer of exactly their size, so that ASan sees any
    // read past the end.
    std::vector<uint8_t> bytes(data, data + size);
    CheckTimeline(bytes.data(), bytes.size());
    CheckFragments(bytes.data(), bytes.size());
    Checker checker;
    media::capture::CaptureOptions options;
    options.series = true;
    const media::capture::CaptureReport report =
        media::capture::ReadCaptureBytes(bytes.data(), bytes.size(), options, checker);
    if (report.status == media::capture::CaptureStatus::kNotACapture) {
        Require(report.streams.empty() && checker.started() == 0, "streams found in something that is not a capture");
        return 0;
    }
    Require(checker.ended() == checker.started() && report.streams.size() == checker.started(),
            "every stream that started must end and be reported");
    uint64_t streamPackets = 0;
    for (const media::timeline::RtpStream& s : report.streams)
        streamPackets += s.stats.packets;
    Require(streamPackets == report.counters.streamPackets, "stream packets do not add up");
    uint64_t skipped = 0;
    for (uint64_t n : report.counters.skipped.counts)
        skipped += n;
    const media::capture::CaptureCounters& c = report.counters;
    Require(skipped + streamPackets + c.signallingPackets + c.callPayloadPackets + c.joinedFragments == c.records,
            "records not accounted for, or twice");
    // Every stream is in exactly one call, and every SIP call is one.
    std::vector<int> inCalls(report.streams.size(), 0);
    size_t signalled = 0;
    for (const media::calls::Call& call : report.calls) {
        signalled += call.signalled ? 1 : 0;
        Require(!call.signalled || call.dialog < report.dialogs.size(), "a call of a dialog that is not there");
        Require(call.signalled || !call.streams.empty(), "an unsignalled call without streams");
        for (const media::calls::CallStream& cs : call.streams) {
            Require(cs.stream < report.streams.size(), "a call's stream that is not there");
            ++inCalls[cs.stream];
        }
    }
    Require(signalled == report.dialogs.size(), "a SIP dialog that is no call");
    // A stream's call is one that answered, and lists it; its moves lead
    // to calls that answered; a call's BYE ended one of its dialogs.
    for (size_t i = 0; i < report.streams.size(); ++i) {
        const media::timeline::RtpStream& s = report.streams[i];
        Require(s.moves.size() <= media::signalling::kMaxStreamMoves && s.moves.size() <= s.moveCount,
                "moves kept beyond their bound or their count");
        Require(s.dialog != media::signalling::kNoDialog || s.moveCount == 0, "a stream of no call that moved");
        if (s.dialog == media::signalling::kNoDialog)
            continue;
        Require(s.dialog < report.dialogs.size() && report.dialogs[s.dialog].replyTime >= 0,
                "a stream of a call that is not there or that nobody answered");
        const auto& listed = report.calls[s.dialog].streams;
        Require(std::any_of(listed.begin(), listed.end(),
                            [&](const media::calls::CallStream& cs) { return cs.stream == i; }),
                "a stream that its call does not list");
        for (const media::timeline::DialogMove& m : s.moves)
            Require(m.to < report.dialogs.size() && m.to != m.from && report.dialogs[m.to].replyTime >= 0,
                    "a stream moved to a call that is not there or that nobody answered");
    }
    for (const media::signalling::Dialog& d : report.dialogs) {
        Require(d.legs.size() <= media::signalling::kMaxLegs, "more dialogs in a call than kept");
        Require(d.byeTime < 0 || std::any_of(d.legs.begin(), d.legs.end(),
                                             [](const media::signalling::DialogLeg& l) { return l.byeTime >= 0; }),
                "a call ended by a BYE that ended none of its dialogs");
        Require(d.replaces == media::signalling::kNoDialog || d.replaces < report.dialogs.size(),
                "a transfer of a call that is not there");
    }
    Require(std::all_of(inCalls.begin(), inCalls.end(), [](int n) { return n == 1; }),
            "a stream in no call or in several");
    for (const media::timeline::RtpStream& s : report.streams) {
        Require(!s.anchors.empty() && s.anchors.front().sample == 0, "a stream's first anchor is not its first sample");
        Require(s.anchors.size() <= media::timeline::kMaxAnchors + 1, "more anchors than a stream may record");
        for (size_t k = 1; k < s.anchors.size(); ++k)
            Require(s.anchors[k].sample > s.anchors[k - 1].sample, "anchors out of the stream's order");
    }
    for (const media::calls::Call& call : report.calls)
        for (const media::calls::CallLayout layout :
             {media::calls::CallLayout::kStereo, media::calls::CallLayout::kMixed}) {
            QuietAudio quiet;
            const media::calls::CallAudio audio = media::calls::PlaceCall(
                call, report.streams, layout, layout == media::calls::CallLayout::kStereo ? &quiet : nullptr);
            const int want = call.streams.empty()                         ? 0
                             : layout == media::calls::CallLayout::kMixed ? 1
                             : call.signalled                             ? 2
                                                                          : -1;  // 1 or 2
            Require(want < 0 ? audio.channels == 1 || audio.channels == 2 : audio.channels == want,
                    "a recording with the wrong channels");
            for (const media::calls::PlacedStream& p : audio.streams) {
                const uint64_t samples = report.streams[p.stream].Samples();
                for (size_t k = 0; k < p.segments.size(); ++k) {
                    const media::calls::Segment& g = p.segments[k];
                    Require(g.count > 0 && g.from + g.count <= samples, "a piece of a stream beyond its samples");
                    Require(g.at + g.count <= audio.length, "a piece of a stream beyond the recording");
                    Require(k == 0 || (g.at >= p.segments[k - 1].at + p.segments[k - 1].count &&
                                       g.from >= p.segments[k - 1].from + p.segments[k - 1].count),
                            "a stream over itself, or out of order");
                }
            }
            // Silence where no stream has audio: at most a minute at a
            // time, and in all what the call's real frames pay for.
            std::vector<std::pair<uint64_t, uint64_t>> covered;
            for (const media::calls::PlacedStream& p : audio.streams)
                for (const media::calls::Segment& g : p.segments)
                    covered.emplace_back(g.at, g.at + g.count);
            std::sort(covered.begin(), covered.end());
            uint64_t silence = 0, end = 0, real = 0;
            for (const auto& [from, to] : covered) {
                Require(from <= end + media::calls::kMaxSilenceSamples, "more than a minute of silence kept");
                silence += from > end ? from - end : 0;
                end = std::max(end, to);
            }
            Require(end == audio.length, "a recording longer or shorter than its streams");
            for (const media::calls::CallStream& cs : call.streams)
                real += report.streams[cs.stream].stats.speechFrames + report.streams[cs.stream].stats.descriptorFrames;
            Require(silence <= real * media::calls::kSilencePerRealFrame,
                    "more silence kept than the real frames pay for");
        }
    // The capture as a whole, however many streams it holds: at most 30
    // lost frames per real frame.
    Require(checker.lostFrames() <= media::timeline::kCaptureConcealPerRealFrame * checker.realFrames(),
            "the capture's concealment beyond what its real frames pay for");
    CheckReportPage(report);
    return 0;
}

}  // namespace mervox::fuzz
