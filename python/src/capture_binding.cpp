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

// One stream: its report and its decoded samples.
struct CaptureStream {
    StreamReport report;
    py::array_t<int16_t> pcm;
};

std::vector<CaptureStream> Read(const py::object& data, const py::object& payloadType, bool allowLongGaps)
{
    const long long type = IntegerArgument(payloadType, "payload_type");
    if (type < 0 || type > 127)
        throw py::value_error("payload_type must be from 0 to 127, not " + py::str(payloadType).cast<std::string>());
    CaptureSettings settings;
    settings.payloadType = static_cast<int>(type);
    settings.allowLongGaps = allowLongGaps;
    const Source source(data, "data");
    Warnings warnings;
    std::vector<DecodedStream> decoded;
    {
        py::gil_scoped_release release;
        decoded = ReadCapture(source.input(), settings, warnings, SignalRaised);
    }
    IssueWarnings(WarningKind::kCapture, warnings);
    std::vector<CaptureStream> streams;
    for (DecodedStream& d : decoded)
        streams.push_back({d.report, ToArray(std::move(d.pcm))});
    return streams;
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
