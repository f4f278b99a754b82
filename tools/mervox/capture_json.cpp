// `mervox pcap --json`: the capture, its streams and calls as one JSON document.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "base/names.h"
#include "calls/call_quality.h"
#include "capture_report.h"

namespace mervox::cli {

using media::base::DisplayName;
using media::capture::CaptureCounters;
using media::capture::CaptureReport;
using media::capture::CaptureStatus;
using media::capture::SkipReason;
using media::timeline::RtpStream;

std::vector<std::pair<std::string, uint64_t>> Skipped(const CaptureCounters& c)
{
    std::vector<std::pair<std::string, uint64_t>> nonzero;
    for (size_t i = 0; i < media::capture::kSkipReasons; ++i) {
        const auto reason = static_cast<SkipReason>(i);
        if (c.skipped[reason])
            nonzero.emplace_back(media::capture::SkipReasonName(reason), c.skipped[reason]);
    }
    return nonzero;
}

namespace {

nlohmann::ordered_json EndpointJson(const media::net::Endpoint& e)
{
    return {{"address", media::net::AddressText(e)}, {"port", e.port}};
}

nlohmann::ordered_json SpreadJson(const media::quality::MinMeanMax& m)
{
    return {{"min", m.min}, {"mean", m.mean}, {"max", m.max}};
}

// The E-model's estimate for a listener.
nlohmann::ordered_json ListeningJson(const media::quality::ListeningQuality& q)
{
    return {
        {"r", q.model.r},
        {"mos", q.model.mos},
        {"ie", q.equipmentImpairment},
        {"bpl", q.lossRobustness},
        {"ie_eff", q.model.ieEff},
        {"loss_percent", q.lossPercent},
        {"burst_ratio", q.burstRatio},
        {"delay_ms", q.delayMs},
        {"id", q.model.id},
        {"frames_per_packet", q.framesPerPacket},
    };
}

nlohmann::ordered_json QualityJson(const media::quality::StreamQuality& q)
{
    const media::quality::RtpStats& r = q.rtp;
    const media::quality::JitterBufferResult& b = q.buffer;
    nlohmann::ordered_json jitter = SpreadJson(r.jitterMs);
    jitter["last"] = r.lastJitterMs;
    return {
        {"packets", r.packets},
        {"expected", r.expected},
        {"lost", r.lost},
        {"sequence_errors", r.sequenceErrors},
        {"duplicates", r.duplicates},
        {"out_of_order", r.outOfOrder},
        {"delta_ms", SpreadJson(r.deltaMs)},
        {"jitter_ms", jitter},
        {"clock_drift_ms", r.clockDriftMs},
        {"clock_drift_ppm", r.clockDriftPpm},
        {"jitter_buffer",
         {{"delay_ms", static_cast<double>(b.bufferNs) / 1e6},
          {"played", b.loss.received},
          {"lost", b.loss.lost},
          {"late", b.late},
          {"resyncs", b.resyncs},
          {"loss_percent", b.loss.LossPercent()},
          {"p", b.loss.P()},
          {"q", b.loss.Q()},
          {"burst_ratio", b.loss.BurstRatio()}}},
        {"listening", ListeningJson(media::quality::EstimateListening({&q}))},
    };
}

// Where a stream went after its call (indexes into calls[]).
nlohmann::ordered_json MovesJson(const RtpStream& s)
{
    nlohmann::ordered_json moves = nlohmann::ordered_json::array();
    for (const media::timeline::DialogMove& m : s.moves)
        moves.push_back({{"time", m.time}, {"from_call", m.from}, {"to_call", m.to}});
    return moves;
}

nlohmann::ordered_json StreamJson(const RtpStream& s, const media::recorder::OutputFile& file)
{
    const media::timeline::TimelineStats& t = s.stats;
    return {
        {"ssrc", media::capture::SsrcText(s.ssrc)},
        {"source", EndpointJson(s.source)},
        {"destination", EndpointJson(s.destination)},
        {"payload_type", s.payloadType},
        {"packets", t.packets},
        {"duplicates", t.duplicates},
        {"reordered", t.reordered},
        {"late", t.late},
        {"frames", t.frames},
        {"speech_frames", t.speechFrames},
        {"silence_frames", t.silenceFrames},
        {"lost_frames", t.lostFrames},
        {"rate_switches", t.rateSwitches},
        {"overlapping_frames", t.overlapping},
        {"timestamp_jumps", t.timestampJumps},
        {"stray_timestamps", t.strayTimestamps},
        {"sequence_restarts", t.sequenceRuns},
        {"unfilled_frames", t.unfilledFrames},
        {"cut_short_payloads", t.cutShortPayloads},
        {"duration_seconds", t.DurationSeconds()},
        {"first_packet_time", s.firstArrival},
        {"last_packet_time", s.lastArrival},
        {"call_payload_packets", s.callPayloadPackets},
        {"call_moves", s.moveCount},
        {"moves", MovesJson(s)},
        {"output", file.path},
        {"written", file.error.empty()},
        {"error", file.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(file.error)},
        {"quality", QualityJson(s.quality)},
    };
}

// A time in capture seconds, or null where the event was not seen.
nlohmann::ordered_json TimeJson(double t) { return t >= 0 ? nlohmann::ordered_json(t) : nlohmann::ordered_json(); }

nlohmann::ordered_json PartyJson(const media::signalling::NameAddress& a)
{
    return {{"display_name", a.displayName}, {"uri", a.uri}};
}

nlohmann::ordered_json MediaJson(const media::signalling::DialogMedia& m)
{
    nlohmann::ordered_json j;
    j["address"] = m.media.haveAddress ? nlohmann::ordered_json(media::net::AddressText(m.media.endpoint))
                                       : nlohmann::ordered_json();
    j["port"] = m.media.endpoint.port;
    j["protocol"] = m.media.protocol;
    j["direction"] = media::signalling::MediaDirectionName(m.media.direction);
    j["encrypted"] = m.media.encrypted;
    j["from_caller"] = m.fromCaller;
    j["message"] = m.status ? nlohmann::ordered_json(m.status) : nlohmann::ordered_json(m.method);
    j["time"] = m.time;
    j["payload_types"] = nlohmann::ordered_json::array();
    for (const media::signalling::PayloadMapping& p : m.media.payloads)
        j["payload_types"].push_back({{"payload_type", p.payloadType}, {"encoding", p.encoding}});
    return j;
}

nlohmann::ordered_json CallJson(const media::calls::Call& c, const CaptureReport& r, const CallFiles* recordings,
                                size_t index)
{
    nlohmann::ordered_json j;
    j["signalled"] = c.signalled;
    if (c.signalled) {
        const media::signalling::Dialog& d = r.dialogs[c.dialog];
        j["call_id"] = d.callId;
        j["from"] = PartyJson(d.from);
        j["to"] = PartyJson(d.to);
        j["caller"] = EndpointJson(d.caller);
        j["callee"] = EndpointJson(d.callee);
        j["invite_time"] = TimeJson(d.inviteTime);
        j["answer_time"] = TimeJson(d.answerTime);
        j["ack_time"] = TimeJson(d.ackTime);
        j["bye_time"] = TimeJson(d.byeTime);
        j["cancel_time"] = TimeJson(d.cancelTime);
        j["final_response"] = d.finalStatus ? nlohmann::ordered_json(d.finalStatus) : nlohmann::ordered_json();
        j["answers"] = nlohmann::ordered_json::array();
        for (const media::signalling::SipAnswer& a : d.answers)
            j["answers"].push_back({{"status", a.status}, {"to_tag", a.toTag}, {"time", a.time}, {"sdp", a.sdp}});
        j["dialogs"] = nlohmann::ordered_json::array();
        for (const media::signalling::DialogLeg& l : d.legs)
            j["dialogs"].push_back(
                {{"to_tag", l.tag}, {"confirm_time", TimeJson(l.confirmTime)}, {"bye_time", TimeJson(l.byeTime)}});
        j["replaces"] =
            d.replaces == media::signalling::kNoDialog ? nlohmann::ordered_json() : nlohmann::ordered_json(d.replaces);
        j["reinvites"] = d.reinvites;
        j["encrypted_media"] = d.encrypted;
        j["media"] = nlohmann::ordered_json::array();
        for (const media::signalling::DialogMedia& m : d.media)
            j["media"].push_back(MediaJson(m));
    }
    j["start_time"] = c.start;
    j["end_time"] = c.end;
    if (recordings) {
        const media::recorder::OutputFile& f = recordings->files[index];
        const media::calls::CallAudio& a = recordings->audio[index];
        j["output"] = f.path.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(f.path);
        j["written"] = !f.path.empty() && f.error.empty();
        if (!f.error.empty())
            j["error"] = f.error;  // why not (a full disk goes on recording the next call)
        j["channels"] = a.channels;
        j["recording_start_time"] = a.channels ? nlohmann::ordered_json(a.start) : nlohmann::ordered_json();
        j["recording_seconds"] = static_cast<double>(a.length) / 8000.0;
        j["silence_cuts"] = nlohmann::ordered_json::array();
        for (const media::calls::SilenceCut& cut : a.cuts)
            j["silence_cuts"].push_back({{"recording_time", static_cast<double>(cut.at) / 8000.0},
                                         {"capture_time", cut.time},
                                         {"seconds", static_cast<double>(cut.samples) / 8000.0}});
    }
    j["quality"] = nlohmann::ordered_json::object();
    for (const bool fromCaller : {true, false}) {
        const auto q = media::calls::DirectionQuality(c, r.streams, fromCaller);
        j["quality"][fromCaller ? "caller_to_callee" : "callee_to_caller"] =
            q ? ListeningJson(*q) : nlohmann::ordered_json();
    }
    j["streams"] = nlohmann::ordered_json::array();
    j["dtmf"] = nlohmann::ordered_json::array();
    for (const media::calls::CallStream& cs : c.streams) {
        const RtpStream& s = r.streams[cs.stream];
        j["streams"].push_back(
            {{"stream", cs.stream}, {"ssrc", media::capture::SsrcText(s.ssrc)}, {"from_caller", cs.fromCaller}});
        for (const media::packets::DtmfEvent& e : s.dtmf)
            j["dtmf"].push_back({{"digit", std::string(1, e.digit)},
                                 {"time", e.time},
                                 {"duration_ms", e.duration / 8.0},
                                 {"stream", cs.stream}});
    }
    return j;
}

// A stream's place in its call's recording.
void AddPlacementJson(nlohmann::ordered_json& j, size_t stream, const CallFiles& recordings)
{
    const size_t call = recordings.callOf[stream];
    if (call == SIZE_MAX)
        return;
    for (const media::calls::PlacedStream& p : recordings.audio[call].streams)
        if (p.stream == stream) {
            j["call"] = call;
            j["channel"] = recordings.audio[call].channels == 1 ? "mono" : p.channel == 0 ? "left" : "right";
            j["reanchors"] = p.reanchors;
            j["faster_than_real_time"] = p.fasterThanRealTime;
        }
}

}  // namespace

std::string CallLine(const media::recorder::RecordedCall& call, bool byCall)
{
    const media::calls::CallRecord& record = *call.record;
    // The call alone, as a report of one call.
    CaptureReport r;
    r.streams = record.streams;
    r.dialogs = record.dialogs;
    CallFiles files;
    files.audio.push_back(call.written.audio);
    files.files.push_back(call.written.file);
    files.callOf.assign(record.streams.size(), 0);
    nlohmann::ordered_json j = CallJson(record.call, r, byCall ? &files : nullptr, 0);
    j["closed"] = media::calls::CallCloseName(record.closed);
    nlohmann::ordered_json streams = nlohmann::ordered_json::array();
    for (const media::calls::CallStream& cs : record.call.streams) {
        const media::recorder::OutputFile none;
        const media::recorder::OutputFile& f = cs.stream < call.streamFiles.size() ? call.streamFiles[cs.stream]
                                               : byCall                            ? call.written.file
                                                                                   : none;
        nlohmann::ordered_json s = StreamJson(record.streams[cs.stream], f);
        s["from_caller"] = cs.fromCaller;
        if (byCall) {
            AddPlacementJson(s, cs.stream, files);
            s.erase("call");
        }
        streams.push_back(std::move(s));
    }
    j["streams"] = std::move(streams);
    for (nlohmann::ordered_json& e : j["dtmf"])
        e.erase("stream");
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One capture by its name; several as an array of names, and each one's
// records and where it was cut under "files".
void PrintJson(const std::vector<std::string>& names, const CaptureReport& r, const FileOf& files,
               const CallFiles* recordings)
{
    nlohmann::ordered_json j;
    j["capture"] = names.size() == 1 ? nlohmann::ordered_json(names.front()) : nlohmann::ordered_json(names);
    j["truncated"] = r.status == CaptureStatus::kTruncated;
    if (!r.message.empty())
        j["message"] = r.message;
    if (names.size() > 1) {
        j["files"] = nlohmann::ordered_json::array();
        for (size_t k = 0; k < names.size() && k < r.files.size(); ++k) {
            nlohmann::ordered_json f = {{"capture", names[k]},
                                        {"records", r.files[k].records},
                                        {"truncated", r.files[k].status == CaptureStatus::kTruncated}};
            if (!r.files[k].message.empty())
                f["message"] = r.files[k].message;
            j["files"].push_back(f);
        }
    }
    j["link_type"] = r.linkTypes.empty() ? -1 : r.linkTypes.front();
    j["link_types"] = r.linkTypes;
    // The capture's own count of packets received and dropped, per interface.
    j["interfaces"] = nlohmann::ordered_json::array();
    for (const media::records::InterfaceStatistics& i : r.interfaces) {
        const auto count = [](const std::optional<uint64_t>& v) {
            return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json();
        };
        j["interfaces"].push_back({{"name", i.name},
                                   {"received", count(i.received)},
                                   {"dropped", count(i.dropped)},
                                   {"system_dropped", count(i.systemDropped)},
                                   {"accepted", count(i.accepted)},
                                   {"delivered", count(i.delivered)}});
    }
    if (r.ringFilesRead || r.ringFilesLost)
        j["ring"] = {{"files_read", r.ringFilesRead}, {"files_lost", r.ringFilesLost}};
    j["calls_closed"] = r.closedCalls;
    j["calls_not_listed"] = r.callsNotListed;
    j["stopped"] = r.stopped;
    j["records"] = r.counters.records;
    j["skipped"] = nlohmann::ordered_json::object();
    for (const auto& [reason, count] : Skipped(r.counters))
        j["skipped"][reason] = count;
    j["joined_fragments"] = r.counters.joinedFragments;
    j["reorder_window_packets"] = media::timeline::kReorderWindow;
    j["streams"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < r.streams.size(); ++i) {
        j["streams"].push_back(StreamJson(r.streams[i], files(r.streams[i].id)));
        if (recordings)
            AddPlacementJson(j["streams"].back(), i, *recordings);
    }
    j["signalling"] = {{"packets", r.counters.signallingPackets}, {"messages", r.signalling.messages}};
    j["signalling"]["skipped"] = nlohmann::ordered_json::object();
    for (size_t i = 0; i < media::signalling::kSipProblems; ++i)
        if (r.signalling.problems[i])
            j["signalling"]["skipped"]
             [media::signalling::SipProblemName(static_cast<media::signalling::SipProblem>(i))] =
                 r.signalling.problems[i];
    j["calls"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < r.calls.size(); ++i)
        j["calls"].push_back(CallJson(r.calls[i], r, recordings, i));
    // File names need not be UTF-8; dump() would throw on them.
    std::printf("%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace mervox::cli
