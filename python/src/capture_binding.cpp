// mervox.read_capture: the G.723.1 RTP streams of a pcap or pcapng capture.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings.h"
#include "capture_glue.h"
#include "errors.h"
#include "mervox.hpp"
#include "source.h"

namespace py = pybind11;

namespace mervox::python {
namespace {

// The arguments every capture call takes, checked.
CaptureSettings SettingsOf(const py::object& payloadType, bool allowLongGaps)
{
    const long long type = IntegerArgument(payloadType, "payload_type");
    if (type < 0 || type > 127)
        throw py::value_error("payload_type must be from 0 to 127, not " + py::str(payloadType).cast<std::string>());
    CaptureSettings settings;
    settings.payloadType = static_cast<int>(type);
    settings.allowLongGaps = allowLongGaps;
    return settings;
}

// The capture read by `read` (ReadCapture or ReadCalls) with the
// interpreter free for other threads meanwhile; then its warnings issued.
template <typename Reader>
auto ReadUnlocked(const py::object& data, const py::object& payloadType, bool allowLongGaps, Reader read)
{
    const CaptureSettings settings = SettingsOf(payloadType, allowLongGaps);
    const Source source(data, "data");
    Warnings warnings;
    decltype(read(source.input(), settings, warnings, SignalRaised)) result;
    {
        py::gil_scoped_release release;
        result = read(source.input(), settings, warnings, SignalRaised);
    }
    IssueWarnings(WarningKind::kCapture, warnings);
    return result;
}

// One stream: its report and its decoded samples.
struct CaptureStream {
    StreamReport report;
    py::array_t<int16_t> pcm;
};

std::vector<CaptureStream> Read(const py::object& data, const py::object& payloadType, bool allowLongGaps)
{
    std::vector<DecodedStream> decoded = ReadUnlocked(data, payloadType, allowLongGaps, ReadCapture);
    std::vector<CaptureStream> streams;
    for (DecodedStream& d : decoded)
        streams.push_back({d.report, ToArray(std::move(d.pcm))});
    return streams;
}

// One call: what `mervox pcap --json` reports of it, and the samples of
// its recording.
struct CaptureCall {
    CallRecording call;
    py::array_t<int16_t> samples;
};

std::vector<CaptureCall> ReadCallsOf(const py::object& data, const py::object& payloadType, bool allowLongGaps)
{
    std::vector<CallRecording> recordings = ReadUnlocked(data, payloadType, allowLongGaps, ReadCalls);
    std::vector<CaptureCall> calls;
    for (CallRecording& r : recordings) {
        const auto channels = static_cast<py::ssize_t>(std::max(r.channels, 1));
        const auto frames = static_cast<py::ssize_t>(r.samples.size()) / channels;
        py::array_t<int16_t> samples = ToArray(std::move(r.samples));
        samples = samples.reshape({frames, channels});
        calls.push_back({std::move(r), std::move(samples)});
    }
    return calls;
}

// {"r": R, "mos": MOS} or None.
py::object Rating(bool have, double r, double mos)
{
    if (!have)
        return py::none();
    py::dict d;
    d["r"] = r;
    d["mos"] = mos;
    return std::move(d);
}

std::string Repr(const CaptureStream& s)
{
    const StreamReport& r = s.report;
    char ssrc[11];
    std::snprintf(ssrc, sizeof ssrc, "0x%08x", static_cast<unsigned>(r.ssrc));
    return std::string("<mervox.CaptureStream ssrc=") + ssrc + " " + r.sourceAddress + ":" +
           std::to_string(r.sourcePort) + " -> " + r.destinationAddress + ":" + std::to_string(r.destinationPort) +
           ", " + std::to_string(r.frames + r.lostFrames) + " frames>";
}

// A read-only attribute of CaptureStream for one member of its report.
template <typename T>
void Field(py::class_<CaptureStream>& c, const char* name, T StreamReport::*member, const char* doc)
{
    c.def_property_readonly(
        name, [member](const CaptureStream& s) { return s.report.*member; }, doc);
}

}  // namespace

void BindCaptures(py::module_& m)
{
    py::class_<CaptureStream> c(m, "CaptureStream",
                                "One G.723.1 RTP stream of a capture: what `mervox pcap --json` reports, and pcm.");
    Field(c, "ssrc", &StreamReport::ssrc, "synchronisation source identifier");
    c.def_property_readonly(
        "source", [](const CaptureStream& s) { return py::make_tuple(s.report.sourceAddress, s.report.sourcePort); },
        "(address, port)");
    c.def_property_readonly(
        "destination",
        [](const CaptureStream& s) { return py::make_tuple(s.report.destinationAddress, s.report.destinationPort); },
        "(address, port)");
    Field(c, "payload_type", &StreamReport::payloadType, "RTP payload type");
    Field(c, "packets", &StreamReport::packets, "packets captured, duplicates included");
    Field(c, "duplicates", &StreamReport::duplicates, "packets whose sequence number came before: dropped");
    Field(c, "reordered", &StreamReport::reordered, "packets that arrived after a later one");
    Field(c, "late", &StreamReport::late, "packets that came after the reordering window: dropped");
    Field(c, "frames", &StreamReport::frames, "frames placed on the timeline");
    Field(c, "speech_frames", &StreamReport::speechFrames, "6.3 and 5.3 kbit/s frames among them");
    Field(c, "silence_frames", &StreamReport::silenceFrames, "silence-descriptor and untransmitted frames (concealed)");
    Field(c, "lost_frames", &StreamReport::lostFrames, "frames missing from the timeline (concealed)");
    Field(c, "rate_switches", &StreamReport::rateSwitches, "speech frames at another rate than the one before");
    Field(c, "overlapping_frames", &StreamReport::overlappingFrames, "frames whose time was taken: dropped");
    Field(c, "timestamp_jumps", &StreamReport::timestampJumps, "timestamp jumps taken as a damaged clock");
    Field(c, "stray_timestamps", &StreamReport::strayTimestamps,
          "packets placed by sequence number, their timestamp off");
    Field(c, "sequence_restarts", &StreamReport::sequenceRestarts, "sequence-number jumps that started a new run");
    Field(c, "unfilled_frames", &StreamReport::unfilledFrames, "missing frames left out by the concealment limit");
    Field(c, "cut_short_payloads", &StreamReport::cutShortPayloads, "payloads whose last frame was cut");
    Field(c, "duration_seconds", &StreamReport::durationSeconds, "30 ms per frame, lost ones included");
    Field(c, "first_packet_time", &StreamReport::firstPacketTime, "capture time of the first packet (Unix time)");
    c.def_readonly("pcm", &CaptureStream::pcm, "the decoded stream: int16, 240 samples per frame, 8000 Hz");
    c.def("__repr__", &Repr);

    py::class_<CaptureCall> call(m, "CaptureCall",
                                 "One call of a capture: what `mervox pcap --json` reports, and its recording.");
    call.def_property_readonly(
        "signalled", [](const CaptureCall& cc) { return cc.call.signalled; }, "a SIP call (else paired by addresses)");
    call.def_property_readonly(
        "call_id",
        [](const CaptureCall& cc) { return cc.call.signalled ? py::object(py::str(cc.call.callId)) : py::none(); },
        "SIP Call-ID, None without signalling");
    call.def_property_readonly(
        "caller",
        [](const CaptureCall& cc) {
            return cc.call.signalled ? py::object(py::make_tuple(cc.call.fromName, cc.call.fromUri)) : py::none();
        },
        "(display name, URI) of the From header, None without signalling");
    call.def_property_readonly(
        "callee",
        [](const CaptureCall& cc) {
            return cc.call.signalled ? py::object(py::make_tuple(cc.call.toName, cc.call.toUri)) : py::none();
        },
        "(display name, URI) of the To header, None without signalling");
    call.def_property_readonly(
        "start_time", [](const CaptureCall& cc) { return cc.call.startTime; },
        "the INVITE (or the first packet) in capture time (Unix time)");
    call.def_property_readonly(
        "end_time", [](const CaptureCall& cc) { return cc.call.endTime; }, "its end in capture time");
    call.def_property_readonly(
        "recording_start_time", [](const CaptureCall& cc) { return cc.call.recordingStartTime; },
        "capture time of the first sample: the call's first RTP packet");
    call.def_property_readonly(
        "caller_ssrcs", [](const CaptureCall& cc) { return cc.call.callerSsrcs; }, "SSRCs of the caller's streams");
    call.def_property_readonly(
        "callee_ssrcs", [](const CaptureCall& cc) { return cc.call.calleeSsrcs; }, "SSRCs of the callee's streams");
    call.def_property_readonly(
        "quality",
        [](const CaptureCall& cc) {
            py::dict d;
            d["caller_to_callee"] =
                Rating(cc.call.haveCallerToCallee, cc.call.callerToCalleeR, cc.call.callerToCalleeMos);
            d["callee_to_caller"] =
                Rating(cc.call.haveCalleeToCaller, cc.call.calleeToCallerR, cc.call.calleeToCallerMos);
            return d;
        },
        "E-model rating per direction: {'r': R, 'mos': MOS}, or None without a stream that way");
    call.def_property_readonly(
        "reanchors", [](const CaptureCall& cc) { return cc.call.reanchors; },
        "times its streams were moved to their packets' arrival");
    call.def_property_readonly(
        "silence_cuts",
        [](const CaptureCall& cc) {
            py::list cuts;
            for (const CallRecording::Cut& cut : cc.call.silenceCuts) {
                py::dict d;
                d["recording_time"] = cut.recordingTime;
                d["capture_time"] = cut.captureTime;
                d["seconds"] = cut.seconds;
                cuts.append(d);
            }
            return cuts;
        },
        "silence cut out of the recording where no stream had audio for long (as --json's silence_cuts): "
        "[{'recording_time', 'capture_time', 'seconds'}]");
    call.def_readonly("samples", &CaptureCall::samples,
                      "the recording, int16 at 8000 Hz, shape (n, 2): caller, callee; (n, 1) for a stream alone");
    call.def("__repr__", [](const CaptureCall& cc) {
        return "<mervox.CaptureCall " + std::string(cc.call.signalled ? "SIP" : "unsignalled") + ", " +
               std::to_string(cc.samples.shape(0)) + " samples x " + std::to_string(cc.samples.shape(1)) + ">";
    });

    m.def("read_calls", &ReadCallsOf, py::arg("data"), py::arg("payload_type") = 4, py::arg("allow_long_gaps") = false,
          R"(Finds the calls of a pcap or pcapng capture and makes each one's
recording, as `mervox pcap` (--layout call) does: the same samples as its
WAV file.

data: the capture's bytes or a path (str or os.PathLike).
payload_type, allow_long_gaps: as for read_capture.

Returns a list of CaptureCall in the order of `mervox pcap --json`'s calls.
A SIP call without a G.723.1 stream has samples of shape (0, 1). Raises
and warns as read_capture does.)");

    m.def("read_capture", &Read, py::arg("data"), py::arg("payload_type") = 4, py::arg("allow_long_gaps") = false,
          R"(Finds and decodes every G.723.1 RTP stream of a pcap or pcapng capture,
as `mervox pcap` does: same reader, same timeline (packets in sequence
order, gaps decoded as lost frames), same samples.

data: the capture's bytes or a path (str or os.PathLike).
payload_type: the RTP payload type carrying G.723.1 (4, or a dynamic one).
allow_long_gaps: fill every gap with lost frames, even beyond what a
    stream's frames and the capture's duration account for (as
    `mervox pcap --allow-long-gaps`).

Returns a list of CaptureStream in order of their first packet. Raises
FileNotFoundError (or another OSError) for a file that cannot be read,
CaptureError (a ValueError) for data that is not a capture or holds no
G.723.1 stream, TypeError or ValueError for bad arguments,
KeyboardInterrupt on Ctrl-C; warns (CaptureWarning) when the capture is cut short.)");
}

}  // namespace mervox::python
