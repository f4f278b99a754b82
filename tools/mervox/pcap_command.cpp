// mervox pcap CAPTURE... [-o PREFIX] [--layout call|mixed|streams] [--json] [--payload-type N]
// [--allow-long-gaps]: every call of a packet capture to a WAV file of its
// own (stereo, or mixed), or every G.723.1 RTP stream to one, decoded while
// the capture is read. Several files of one recording are read as one
// capture, their records in time order.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "call_files.h"
#include "call_quality.h"
#include "capture.h"
#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "files.h"
#include "html_report.h"
#include "input_file.h"
#include "jobs_option.h"
#include "mervox.hpp"
#include "names.h"
#include "parallel_for.h"
#include "paths.h"
#include "pcm_output.h"
#include "stream_files.h"
#include "stream_workers.h"

namespace mervox::cli {
namespace {

using capture::CaptureCounters;
using capture::CaptureReport;
using capture::CaptureStatus;
using capture::RtpStream;
using capture::SkipReason;
using tools::DisplayName;
using tools::PathWithoutExtension;

struct PcapOptions {
    std::vector<std::string> inputs;
    std::string prefix;
    bool json = false;
    std::string report;  // the HTML page's path; empty: none
    int payloadType = 4;
    bool allowLongGaps = false;
    unsigned jobs = 0;  // 0: one per processor
    std::string layout = "call";
};

// The prefix of the output files. Default: CAPTURE without its extension,
// so call.pcapng gives call-0x....wav beside it ("capture" for stdin). A
// directory (an existing one, or a name ending in '/') gets the capture's
// name inside it: -o out/ gives out/call-0x....wav. Of several captures,
// the first names the files.
std::string OutputPrefix(const PcapOptions& options)
{
    const std::string& input = options.inputs.front();
    const std::string stem = input == "-" ? "capture" : PathWithoutExtension(input);
    if (options.prefix.empty())
        return stem;
    if (!tools::platform::EndsWithSeparator(options.prefix) && !tools::IsDirectory(options.prefix))
        return options.prefix;
    return tools::platform::Join(options.prefix, tools::platform::BaseName(stem));
}

// Whether `what` can be created where `path` names it: its directory
// exists, is one, and may be written.
tools::Status CheckDirectoryOf(const std::string& path, const std::string& what)
{
    const std::string dir = tools::platform::DirectoryOf(path);
    tools::platform::FileStatus st;
    int error = tools::platform::StatPath(dir, &st);
    if (error == 0 && st.kind != tools::platform::FileKind::kDirectory)
        error = ENOTDIR;
    else if (error == 0)
        error = tools::platform::CanCreateIn(dir);
    if (error == 0)
        return tools::Status::Ok();
    return tools::Status::SystemFailure(tools::kExitOutputError, DisplayName(dir) + ": cannot write " + what + " there",
                                        error);
}

// Makes sure, before the capture is read, that the files can go where
// PREFIX says: -o DIR/ creates a missing DIR (its parent must exist), as
// `decode -o DIR/` does; the directory of any other prefix must exist and
// be writable. Otherwise every stream would fail only once decoded.
tools::Status PrepareOutputDirectory(const PcapOptions& options, const std::string& prefix)
{
    const int unmade = !options.prefix.empty() && tools::platform::EndsWithSeparator(options.prefix)
                           ? tools::platform::MakeDirectory(options.prefix)
                           : 0;
    if (unmade != 0 && !tools::IsDirectory(options.prefix)) {
        const int error = unmade;
        return tools::Status::SystemFailure(tools::kExitOutputError,
                                            DisplayName(options.prefix) + ": cannot create the directory", error);
    }
    return CheckDirectoryOf(prefix, "the output files");
}

// Makes sure, before the capture is read, that the report page can go
// where --report says: its directory exists and may be written (standard
// output and descriptor paths need none).
tools::Status PrepareReportDirectory(const std::string& page)
{
    if (page.empty() || page == "-" || page.compare(0, 5, "/dev/") == 0 || page.compare(0, 6, "/proc/") == 0)
        return tools::Status::Ok();
    return CheckDirectoryOf(page, "the report");
}

// Records skipped, by reason (only the nonzero ones).
std::vector<std::pair<std::string, uint64_t>> Skipped(const CaptureCounters& c)
{
    std::vector<std::pair<std::string, uint64_t>> nonzero;
    for (size_t i = 0; i < capture::kSkipReasons; ++i) {
        const auto reason = static_cast<SkipReason>(i);
        if (c.skipped[reason])
            nonzero.emplace_back(capture::SkipReasonName(reason), c.skipped[reason]);
    }
    return nonzero;
}

nlohmann::ordered_json EndpointJson(const capture::Endpoint& e)
{
    return {{"address", capture::AddressText(e)}, {"port", e.port}};
}

// What became of a stream's output file, by stream id.
using FileOf = std::function<const StreamFiles::File&(size_t)>;

nlohmann::ordered_json SpreadJson(const quality::MinMeanMax& m)
{
    return {{"min", m.min}, {"mean", m.mean}, {"max", m.max}};
}

// The E-model's estimate for a listener.
nlohmann::ordered_json ListeningJson(const quality::ListeningQuality& q)
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

nlohmann::ordered_json QualityJson(const quality::StreamQuality& q)
{
    const quality::RtpStats& r = q.rtp;
    const quality::JitterBufferResult& b = q.buffer;
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
        {"listening", ListeningJson(quality::EstimateListening({&q}))},
    };
}

nlohmann::ordered_json StreamJson(const RtpStream& s, const StreamFiles::File& file)
{
    const capture::TimelineStats& t = s.stats;
    return {
        {"ssrc", capture::SsrcText(s.ssrc)},
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
        {"output", file.path},
        {"written", file.error.empty()},
        {"quality", QualityJson(s.quality)},
    };
}

// A time in capture seconds, or null where the event was not seen.
nlohmann::ordered_json TimeJson(double t) { return t >= 0 ? nlohmann::ordered_json(t) : nlohmann::ordered_json(); }

nlohmann::ordered_json PartyJson(const signalling::NameAddress& a)
{
    return {{"display_name", a.displayName}, {"uri", a.uri}};
}

nlohmann::ordered_json MediaJson(const signalling::DialogMedia& m)
{
    nlohmann::ordered_json j;
    j["address"] =
        m.media.haveAddress ? nlohmann::ordered_json(capture::AddressText(m.media.endpoint)) : nlohmann::ordered_json();
    j["port"] = m.media.endpoint.port;
    j["protocol"] = m.media.protocol;
    j["direction"] = signalling::MediaDirectionName(m.media.direction);
    j["encrypted"] = m.media.encrypted;
    j["from_caller"] = m.fromCaller;
    j["message"] = m.status ? nlohmann::ordered_json(m.status) : nlohmann::ordered_json(m.method);
    j["time"] = m.time;
    j["payload_types"] = nlohmann::ordered_json::array();
    for (const signalling::PayloadMapping& p : m.media.payloads)
        j["payload_types"].push_back({{"payload_type", p.payloadType}, {"encoding", p.encoding}});
    return j;
}

nlohmann::ordered_json CallJson(const capture::Call& c, const CaptureReport& r, const CallFiles* recordings,
                                size_t index)
{
    nlohmann::ordered_json j;
    j["signalled"] = c.signalled;
    if (c.signalled) {
        const signalling::Dialog& d = r.dialogs[c.dialog];
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
        for (const signalling::SipAnswer& a : d.answers)
            j["answers"].push_back({{"status", a.status}, {"to_tag", a.toTag}, {"time", a.time}, {"sdp", a.sdp}});
        j["reinvites"] = d.reinvites;
        j["encrypted_media"] = d.encrypted;
        j["media"] = nlohmann::ordered_json::array();
        for (const signalling::DialogMedia& m : d.media)
            j["media"].push_back(MediaJson(m));
    }
    j["start_time"] = c.start;
    j["end_time"] = c.end;
    if (recordings) {
        const StreamFiles::File& f = recordings->files[index];
        const calls::CallAudio& a = recordings->audio[index];
        j["output"] = f.path.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(f.path);
        j["written"] = !f.path.empty() && f.error.empty();
        j["channels"] = a.channels;
        j["recording_start_time"] = a.channels ? nlohmann::ordered_json(a.start) : nlohmann::ordered_json();
        j["recording_seconds"] = static_cast<double>(a.length) / 8000.0;
    }
    j["quality"] = nlohmann::ordered_json::object();
    for (const bool fromCaller : {true, false}) {
        const auto q = capture::DirectionQuality(c, r.streams, fromCaller);
        j["quality"][fromCaller ? "caller_to_callee" : "callee_to_caller"] =
            q ? ListeningJson(*q) : nlohmann::ordered_json();
    }
    j["streams"] = nlohmann::ordered_json::array();
    j["dtmf"] = nlohmann::ordered_json::array();
    for (const capture::CallStream& cs : c.streams) {
        const RtpStream& s = r.streams[cs.stream];
        j["streams"].push_back(
            {{"stream", cs.stream}, {"ssrc", capture::SsrcText(s.ssrc)}, {"from_caller", cs.fromCaller}});
        for (const capture::DtmfEvent& e : s.dtmf)
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
    for (const calls::PlacedStream& p : recordings.audio[call].streams)
        if (p.stream == stream) {
            j["call"] = call;
            j["channel"] = recordings.audio[call].channels == 1 ? "mono" : p.channel == 0 ? "left" : "right";
            j["reanchors"] = p.reanchors;
            j["faster_than_real_time"] = p.fasterThanRealTime;
        }
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
    j["records"] = r.counters.records;
    j["skipped"] = nlohmann::ordered_json::object();
    for (const auto& [reason, count] : Skipped(r.counters))
        j["skipped"][reason] = count;
    j["reorder_window_packets"] = capture::kReorderWindow;
    j["streams"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < r.streams.size(); ++i) {
        j["streams"].push_back(StreamJson(r.streams[i], files(r.streams[i].id)));
        if (recordings)
            AddPlacementJson(j["streams"].back(), i, *recordings);
    }
    j["signalling"] = {{"packets", r.counters.signallingPackets}, {"messages", r.signalling.messages}};
    j["signalling"]["skipped"] = nlohmann::ordered_json::object();
    for (size_t i = 0; i < signalling::kSipProblems; ++i)
        if (r.signalling.problems[i])
            j["signalling"]["skipped"][signalling::SipProblemName(static_cast<signalling::SipProblem>(i))] =
                r.signalling.problems[i];
    j["calls"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < r.calls.size(); ++i)
        j["calls"].push_back(CallJson(r.calls[i], r, recordings, i));
    // File names need not be UTF-8; dump() would throw on them.
    std::printf("%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// The audio a call was written to: its streams' files.
std::vector<std::string> CallAudioFiles(const CaptureReport& r, size_t call, const FileOf& files)
{
    std::vector<std::string> paths;
    for (const capture::CallStream& cs : r.calls[call].streams) {
        const StreamFiles::File& f = files(r.streams[cs.stream].id);
        // In a call layout its streams share the call's one file.
        if (f.error.empty() && !f.path.empty() && std::find(paths.begin(), paths.end(), f.path) == paths.end())
            paths.push_back(f.path);
    }
    return paths;
}

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

// A party for a line of text: escaped, for a terminal is driven by what
// the capture says.
std::string PartyText(const signalling::NameAddress& a)
{
    const std::string uri = "<" + tools::EscapeControlCharacters(a.uri) + ">";
    return a.displayName.empty() ? uri : "\"" + tools::EscapeControlCharacters(a.displayName) + "\" " + uri;
}

void PrintCalls(const CaptureReport& r, const CallFiles* recordings)
{
    for (size_t i = 0; i < r.calls.size(); ++i) {
        const capture::Call& c = r.calls[i];
        std::printf("\ncall %zu  %s\n", i + 1,
                    c.signalled            ? "SIP"
                    : c.streams.size() > 1 ? "unsignalled pair"
                                           : "one direction");
        if (c.signalled) {
            const signalling::Dialog& d = r.dialogs[c.dialog];
            std::printf("  Call-ID:        %s\n", tools::EscapeControlCharacters(d.callId).c_str());
            std::printf("  from:           %s\n", PartyText(d.from).c_str());
            std::printf("  to:             %s\n", PartyText(d.to).c_str());
            std::printf("  outcome:        %s%s\n",
                        d.finalStatus ? std::to_string(d.finalStatus).c_str() : "no final response",
                        d.encrypted ? " (encrypted media, not decoded)" : "");
        }
        std::printf("  duration:       %.2f s\n", c.end - c.start);
        if (recordings && !recordings->files[i].path.empty()) {
            const StreamFiles::File& f = recordings->files[i];
            std::printf("  file:           %s (%s)%s\n", DisplayName(f.path).c_str(),
                        recordings->audio[i].channels == 2 ? "stereo" : "mono",
                        f.error.empty() ? "" : " (not written)");
            for (const calls::PlacedStream& p : recordings->audio[i].streams)
                if (p.reanchors)
                    std::printf("  re-anchored:    %s %llu time%s to its packets' arrival\n",
                                capture::SsrcText(r.streams[p.stream].ssrc).c_str(),
                                static_cast<unsigned long long>(p.reanchors), p.reanchors == 1 ? "" : "s");
                else if (p.fasterThanRealTime)
                    std::printf("  RTP time kept:  %s arrived faster than real time (a replayed capture?)\n",
                                capture::SsrcText(r.streams[p.stream].ssrc).c_str());
        }
        for (const bool fromCaller : {true, false})
            if (const auto q = capture::DirectionQuality(c, r.streams, fromCaller))
                std::printf("  heard by %s  R %.1f, MOS %.2f (%.1f%% lost after a %.0f ms jitter buffer)\n",
                            fromCaller ? "callee:" : "caller:", q->model.r, q->model.mos, q->lossPercent,
                            static_cast<double>(quality::kDefaultBufferNs) / 1e6);
        std::printf("  streams:       ");
        for (const capture::CallStream& cs : c.streams)
            std::printf(" %s", capture::SsrcText(r.streams[cs.stream].ssrc).c_str());
        std::printf("%s\n", c.streams.empty() ? " none" : "");
        std::string digits;
        for (const capture::CallStream& cs : c.streams)
            for (const capture::DtmfEvent& e : r.streams[cs.stream].dtmf)
                digits += e.digit;
        if (!digits.empty())
            std::printf("  DTMF:           %s\n", digits.c_str());
    }
}

void PrintText(const std::string& name, const CaptureReport& r, const FileOf& files, const CallFiles* recordings)
{
    std::printf("capture: %s, %llu records, %zu G.723.1 stream%s\n", name.c_str(), U(r.counters.records),
                r.streams.size(), r.streams.size() == 1 ? "" : "s");
    const auto skipped = Skipped(r.counters);
    if (!skipped.empty()) {
        std::printf("skipped:");
        for (size_t i = 0; i < skipped.size(); ++i)
            std::printf("%s %s %llu", i ? "," : "", skipped[i].first.c_str(), U(skipped[i].second));
        std::printf("\n");
    }
    for (const RtpStream& s : r.streams) {
        const capture::TimelineStats& t = s.stats;
        std::printf("\nstream %s  %s -> %s  payload type %d\n", capture::SsrcText(s.ssrc).c_str(),
                    capture::EndpointText(s.source).c_str(), capture::EndpointText(s.destination).c_str(),
                    s.payloadType);
        std::printf("  packets:        %llu (%llu duplicates, %llu reordered)\n", U(t.packets), U(t.duplicates),
                    U(t.reordered));
        if (t.late)
            std::printf("  late packets:   %llu (too late for the %lld-packet reordering window, dropped)\n", U(t.late),
                        static_cast<long long>(capture::kReorderWindow));
        std::printf("  frames:         %llu (%llu speech, %llu silence)\n", U(t.frames), U(t.speechFrames),
                    U(t.silenceFrames));
        std::printf("  lost frames:    %llu\n", U(t.lostFrames));
        std::printf("  rate switches:  %llu\n", U(t.rateSwitches));
        if (t.overlapping || t.timestampJumps || t.cutShortPayloads)
            std::printf("  anomalies:      %llu overlapping frames, %llu timestamp jumps, %llu cut-short payloads\n",
                        U(t.overlapping), U(t.timestampJumps), U(t.cutShortPayloads));
        if (t.strayTimestamps || t.sequenceRuns)
            std::printf("  placed by sequence: %llu stray timestamps; %llu sequence restarts\n", U(t.strayTimestamps),
                        U(t.sequenceRuns));
        if (t.unfilledFrames)
            std::printf("  unfilled gaps:  %llu frames (%.2f s) beyond the concealment limit\n", U(t.unfilledFrames),
                        static_cast<double>(t.unfilledFrames) * 0.03);
        std::printf("  duration:       %.2f s\n", t.DurationSeconds());
        const quality::RtpStats& q = s.quality.rtp;
        std::printf("  arrival:        %lld lost of %llu expected; jitter %.3f ms mean, %.3f ms max\n",
                    static_cast<long long>(q.lost), U(q.expected), q.jitterMs.mean, q.jitterMs.max);
        const StreamFiles::File& f = files(s.id);
        std::printf("  output:         %s%s\n", f.path.c_str(), f.error.empty() ? "" : " (not written)");
    }
    PrintCalls(r, recordings);
}

std::string NoStreamMessage(const std::string& name, const PcapOptions& options, const CaptureReport& report)
{
    const CaptureCounters& c = report.counters;
    std::string why = name + ": no G.723.1 RTP stream (payload type " + std::to_string(options.payloadType) + ") in " +
                      std::to_string(c.records) + " records";
    if (!report.message.empty() && report.status == CaptureStatus::kOk)
        why += "; " + report.message;
    const uint64_t other = c.skipped[SkipReason::kOtherPayloadType];
    if (other > 0)
        why += "; " + std::to_string(other) +
               (other == 1 ? " RTP packet of another payload type" : " RTP packets of other payload types") +
               " (a dynamic mapping needs --payload-type N)";
    return why;
}

// The output files' limits: the pool's, with no more files open at once
// than the descriptors this process may have leave room for (the rest for
// the captures, which are all open at once, the standard streams and the
// libraries).
tools::OutputPool::Limits OutputLimits(size_t captures)
{
    tools::OutputPool::Limits limits;
    const uint64_t kSpare = 32 + static_cast<uint64_t>(captures);
    if (const std::optional<uint64_t> files = tools::platform::OpenFileLimit())
        limits.openFiles = static_cast<size_t>(std::min<uint64_t>(
            limits.openFiles, *files > 2 * kSpare ? *files - kSpare : std::max<uint64_t>(*files / 2, 1)));
    return limits;
}

int RunPcap(const PcapOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    std::vector<std::string> names;
    std::string name;  // all of them, for text
    for (const std::string& input : options.inputs) {
        names.push_back(DisplayName(input));
        name += (name.empty() ? "" : ", ") + names.back();
    }
    if (options.prefix == "-") {
        console.Error(
            "-o -: pcap writes one WAV file per stream, not one stream to stdout; give a prefix or a "
            "directory");
        return kExitUsage;
    }
    for (const std::string& input : options.inputs) {
        const tools::Status probed = tools::ProbeInput(input, "not a capture");
        if (!probed.ok()) {
            console.Error(probed.message());
            return probed.code();
        }
    }

    const std::string prefix = OutputPrefix(options);
    tools::Status directory = PrepareOutputDirectory(options, prefix);
    if (directory.ok())
        directory = PrepareReportDirectory(options.report);
    if (!directory.ok()) {
        console.Error(directory.message());
        return directory.code();
    }

    capture::CaptureOptions captureOptions;
    captureOptions.payloadType = options.payloadType;
    captureOptions.timeline.limitConcealment = !options.allowLongGaps;
    captureOptions.series = !options.report.empty();
    // The reader hands each stream's frames to one of -j workers that decode
    // and write them (with -j 1, on the reading thread).
    // Each worker has at least one file of its own open: no more workers than that allows.
    const tools::OutputPool::Limits limits = OutputLimits(options.inputs.size());
    const auto workers = static_cast<unsigned>(
        std::min<size_t>(options.jobs ? options.jobs : tools::DefaultWorkerCount(), limits.openFiles));
    // In a call layout the streams are decoded to scratch files first, and
    // each call's recording is made of them once the calls are known.
    const calls::CallLayout layout = *calls::CallLayoutFromName(options.layout);
    const bool byCall = layout != calls::CallLayout::kStreams;
    StreamWorkers streams(workers, prefix, console, limits, !options.report.empty(),
                          byCall ? ScratchPrefix(prefix) : "");
    const CaptureReport report = options.inputs.size() == 1
                                     ? capture::ReadCapture(options.inputs.front(), captureOptions, streams)
                                     : capture::ReadCaptures(options.inputs, captureOptions, streams);
    streams.Finish();
    CallFiles recordings;
    if (byCall)
        recordings = WriteCallFiles(
            report, layout, prefix, [&](size_t id) -> const StreamFiles::File& { return streams.file(id); }, workers,
            console);
    // Per stream id, in a call layout: the recording that holds it.
    std::map<size_t, const StreamFiles::File*> recordingOf;
    for (size_t i = 0; byCall && i < report.streams.size(); ++i)
        if (recordings.callOf[i] != SIZE_MAX)
            recordingOf[report.streams[i].id] = &recordings.files[recordings.callOf[i]];
    const FileOf fileOf = [&](size_t id) -> const StreamFiles::File& {
        return byCall && recordingOf.count(id) ? *recordingOf.at(id) : streams.file(id);
    };
    const int filesStatus = std::max(streams.status(), recordings.status);
    if (filesStatus == kExitOutOfMemory)
        console.Error("out of memory");
    if (report.status == CaptureStatus::kNotACapture) {
        // Of several, the last one opened is the one that is not a capture.
        const std::string& which = report.files.empty() ? name : names.at(report.files.size() - 1);
        console.Error(which + ": not a pcap or pcapng capture (" + report.message + ")");
        return kExitBadInput;
    }
    if (report.files.empty() && report.status == CaptureStatus::kTruncated)
        console.Warning(name + ": capture cut short or damaged after " + std::to_string(report.counters.records) +
                        " records (" + report.message + "); using what was read");
    for (size_t k = 0; k < report.files.size(); ++k)
        if (report.files[k].status == CaptureStatus::kTruncated)
            console.Warning(names[k] + ": capture cut short or damaged after " +
                            std::to_string(report.files[k].records) + " records (" + report.files[k].message +
                            "); using what was read and the other captures");
    for (const RtpStream& s : report.streams)
        if (s.stats.unfilledFrames > 0)
            console.Warning(name + ": stream " + capture::SsrcText(s.ssrc) + ": " +
                            std::to_string(s.stats.unfilledFrames) +
                            " missing frames left out: its gaps exceed what its frames and the capture's "
                            "duration account for (--allow-long-gaps fills them)");

    if (options.json)
        PrintJson(names, report, fileOf, byCall ? &recordings : nullptr);
    else if (!global.quiet)
        PrintText(name, report, fileOf, byCall ? &recordings : nullptr);
    const bool reportWritten = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int reportErrno = errno;

    int status = kExitOk;
    if (!options.report.empty()) {
        mervox::report::ReportInput page;
        page.captureName = name;
        page.capture = &report;
        page.pagePath = options.report;
        page.audioFiles = [&](size_t call) { return CallAudioFiles(report, call, fileOf); };
        page.loudness = [&](size_t stream) { return streams.loudness(report.streams[stream].id); };
        const tools::Status written = mervox::report::WriteHtmlReport(page);
        if (!written.ok()) {
            console.Error(written.message().empty() ? options.report + ": reader went away" : written.message());
            status = kExitOutputError;
        }
    }
    if (report.streams.empty()) {
        console.Error(NoStreamMessage(name, options, report));
        status = kExitBadInput;
    }
    status = std::max(status, filesStatus);
    if (!reportWritten) {
        console.Error("<stdout>: cannot write the report: " + std::string(std::strerror(reportErrno)));
        status = std::max<int>(status, kExitOutputError);
    }
    return status;
}

}  // namespace

Subcommand AddPcapCommand(CLI::App& parent)
{
    auto options = std::make_shared<PcapOptions>();
    CLI::App* app = parent.add_subcommand(
        "pcap",
        "Decode every call of pcap or pcapng captures to a stereo WAV file (caller left, callee right), "
        "or every G.723.1 RTP stream to PREFIX-0xSSRC.wav");
    app->add_option("CAPTURE", options->inputs,
                    "Capture file (pcap or pcapng), '-' for stdin; several files of one recording (a ring "
                    "buffer's) are read as one capture, their records in time order")
        ->required();
    app->add_option("-o,--output", options->prefix,
                    "Prefix of the WAV files: PREFIX-<UTC start>-<from>-<to>.wav (or PREFIX-0xSSRC.wav); a "
                    "directory (or a name ending in '/') puts CAPTURE's name inside it. Default: CAPTURE (the "
                    "first one) without its extension ('capture' when reading stdin)");
    app->add_option("--layout", options->layout,
                    "call (default): PREFIX-<UTC start>-<from>-<to>.wav per call, caller left, callee right (a "
                    "stream without signalling or partner: mono); mixed: the same, both directions on one channel; "
                    "streams: PREFIX-0xSSRC.wav per stream")
        ->check(CLI::IsMember({"call", "mixed", "streams"}));
    app->add_flag("--json", options->json, "Print the per-stream report as JSON");
    app->add_option("--report", options->report,
                    "Write the calls as one self-contained HTML page: a table of calls, worst first, and "
                    "drawings over time of the worst ones (timeline, loudness, jitter, losses)");
    app->add_option("--payload-type", options->payloadType,
                    "RTP payload type carrying G.723.1 (default 4; for dynamic mappings)")
        ->check(CLI::Range(0, 127));
    app->add_flag("--allow-long-gaps", options->allowLongGaps,
                  "Fill every gap with lost frames, even beyond what a stream's frames and the capture's duration "
                  "account for (each gap still at most 60 s)");
    app->add_option("-j,--jobs", options->jobs,
                    "Threads decoding the streams, each stream on one (default: the number of processors)")
        ->check(JobsText);
    return {app, [options](const GlobalOptions& global) { return RunPcap(*options, global); }};
}

}  // namespace mervox::cli
