#include "capture_glue.h"

#include <functional>
#include <map>

#include "calls/call_audio.h"
#include "calls/call_quality.h"
#include "capture/capture.h"
#include "recorder/recorder.h"
#include "stream/input_file.h"

namespace mervox::python {
namespace {

std::string NoStreamMessage(const std::string& name, const media::capture::CaptureReport& report, int payloadType)
{
    const media::capture::CaptureCounters& c = report.counters;
    std::string why = name + ": no G.723.1 RTP stream (payload type " + std::to_string(payloadType) + ") in " +
                      std::to_string(c.records) + " records";
    if (!report.message.empty() && report.status == media::capture::CaptureStatus::kOk)
        why += "; " + report.message;
    const uint64_t other = c.skipped[media::capture::SkipReason::kOtherPayloadType];
    if (other > 0)
        why += "; " + std::to_string(other) +
               (other == 1 ? " RTP packet of another payload type" : " RTP packets of other payload types") +
               " (a dynamic mapping needs --payload-type N)";
    return why;
}

StreamReport ReportStream(const media::timeline::RtpStream& s)
{
    const media::timeline::TimelineStats& t = s.stats;
    StreamReport r{};
    r.ssrc = s.ssrc;
    r.sourceAddress = media::net::AddressText(s.source);
    r.sourcePort = s.source.port;
    r.destinationAddress = media::net::AddressText(s.destination);
    r.destinationPort = s.destination.port;
    r.payloadType = s.payloadType;
    r.packets = t.packets;
    r.duplicates = t.duplicates;
    r.reordered = t.reordered;
    r.late = t.late;
    r.frames = t.frames;
    r.speechFrames = t.speechFrames;
    r.silenceFrames = t.silenceFrames;
    r.lostFrames = t.lostFrames;
    r.rateSwitches = t.rateSwitches;
    r.overlappingFrames = t.overlapping;
    r.timestampJumps = t.timestampJumps;
    r.strayTimestamps = t.strayTimestamps;
    r.sequenceRestarts = t.sequenceRuns;
    r.unfilledFrames = t.unfilledFrames;
    r.cutShortPayloads = t.cutShortPayloads;
    r.durationSeconds = t.DurationSeconds();
    r.firstPacketTime = s.firstArrival;
    return r;
}

// The capture recorded in memory (`layout`: each stream alone, or each
// call composed), every call handed to `recorded` as it closes; the
// command's messages.
media::capture::CaptureReport Record(const Input& input, const CaptureSettings& settings, Warnings& warnings,
                                     const media::base::StopRequested& stop, media::calls::CallLayout layout,
                                     const std::function<void(media::recorder::RecordedCall&)>& recorded)
{
    media::capture::CaptureOptions options;
    options.payloadType = settings.payloadType;
    options.timeline.limitConcealment = !settings.allowLongGaps;
    media::recorder::RecorderOptions recording;
    recording.layout = layout;
    recording.memory = true;
    recording.stop = stop;
    recording.recorded = recorded;
    media::recorder::Recorder recorder(recording);
    media::capture::CaptureReport report;
    const std::string& name = input.name;
    if (input.isPath) {
        const std::string file = input.path == "-" ? "./-" : input.path;  // the reader takes "-" as stdin
        const media::base::Status probe = media::stream::ProbeInput(file, "not a capture");  // the command's probe
        if (!probe.ok()) {
            if (probe.systemError() != 0)
                throw InputError(probe.systemError(), probe.message());
            throw CaptureError(probe.message());
        }
        report = media::capture::ReadCapture(file, options, recorder);
    } else {
        report = media::capture::ReadCaptureBytes(input.data, input.size, options, recorder);
    }
    recorder.Finish();
    if (report.status == media::capture::CaptureStatus::kNotACapture)
        throw CaptureError(name + ": not a pcap or pcapng capture (" + report.message + ")");
    if (report.status == media::capture::CaptureStatus::kUnreadable)
        throw InputError(report.systemError, name + ": " + report.message);
    if (report.status == media::capture::CaptureStatus::kTruncated)
        warnings.push_back(name + ": capture cut short or damaged after " + std::to_string(report.counters.records) +
                           " records (" + report.message + "); using what was read");
    for (const media::timeline::RtpStream& s : report.streams)
        if (s.stats.unfilledFrames > 0)
            warnings.push_back(name + ": stream " + media::capture::SsrcText(s.ssrc) + ": " +
                               std::to_string(s.stats.unfilledFrames) +
                               " missing frames left out: its gaps exceed what its frames and the capture's "
                               "duration account for (--allow-long-gaps fills them)");
    if (report.streams.empty())
        throw CaptureError(NoStreamMessage(name, report, settings.payloadType));
    return report;
}

}  // namespace

std::vector<DecodedStream> ReadCapture(const Input& input, const CaptureSettings& settings, Warnings& warnings,
                                       const media::base::StopRequested& stop)
{
    std::map<size_t, std::vector<int16_t>> pcm;  // by stream id
    const media::capture::CaptureReport report = Record(
        input, settings, warnings, stop, media::calls::CallLayout::kStreams, [&](media::recorder::RecordedCall& call) {
            for (size_t k = 0; k < call.pcm.size(); ++k)
                pcm[call.record->streams[k].id] = std::move(call.pcm[k]);
        });
    std::vector<DecodedStream> streams;
    for (const media::timeline::RtpStream& s : report.streams)
        streams.push_back({ReportStream(s), std::move(pcm[s.id])});
    return streams;
}

std::vector<CallRecording> ReadCalls(const Input& input, const CaptureSettings& settings, Warnings& warnings,
                                     const media::base::StopRequested& stop)
{
    std::map<uint64_t, CallRecording> bySerial;
    const media::capture::CaptureReport report = Record(
        input, settings, warnings, stop, media::calls::CallLayout::kStereo, [&](media::recorder::RecordedCall& call) {
            const media::calls::CallRecord& record = *call.record;
            const media::calls::Call& c = record.call;
            CallRecording r;
            r.signalled = c.signalled;
            if (c.signalled) {
                const media::signalling::Dialog& d = record.dialogs[c.dialog];
                r.callId = d.callId;
                r.fromName = d.from.displayName;
                r.fromUri = d.from.uri;
                r.toName = d.to.displayName;
                r.toUri = d.to.uri;
            }
            r.startTime = c.start;
            r.endTime = c.end;
            for (const media::calls::CallStream& cs : c.streams)
                (cs.fromCaller ? r.callerSsrcs : r.calleeSsrcs).push_back(record.streams[cs.stream].ssrc);
            if (const auto q = media::calls::DirectionQuality(c, record.streams, true)) {
                r.haveCallerToCallee = true;
                r.callerToCalleeR = q->model.r;
                r.callerToCalleeMos = q->model.mos;
            }
            if (const auto q = media::calls::DirectionQuality(c, record.streams, false)) {
                r.haveCalleeToCaller = true;
                r.calleeToCallerR = q->model.r;
                r.calleeToCallerMos = q->model.mos;
            }
            const media::calls::CallAudio& audio = call.written.audio;
            r.channels = audio.channels;
            r.recordingStartTime = audio.start;
            for (const media::calls::PlacedStream& p : audio.streams)
                r.reanchors += p.reanchors;
            for (const media::calls::SilenceCut& cut : audio.cuts)
                r.silenceCuts.push_back(
                    {static_cast<double>(cut.at) / 8000.0, cut.time, static_cast<double>(cut.samples) / 8000.0});
            r.samples = std::move(call.samples);
            bySerial[c.serial] = std::move(r);
        });
    // In the order of the report's calls.
    std::vector<CallRecording> calls;
    for (const media::calls::Call& c : report.calls)
        calls.push_back(std::move(bySerial[c.serial]));
    return calls;
}

}  // namespace mervox::python
