#include "capture_glue.h"

#include "capture.h"
#include "input_file.h"
#include "mervox.hpp"
#include "stream_decoder.h"

namespace mervox::python {
namespace {

std::string NoStreamMessage(const std::string& name, const capture::CaptureReport& report, int payloadType)
{
    std::string why = name + ": no G.723.1 RTP stream (payload type " + std::to_string(payloadType) + ") in " +
                      std::to_string(report.counters.records) + " records";
    if (!report.message.empty() && report.status == capture::CaptureStatus::kOk)
        why += "; " + report.message;
    if (report.counters.otherPayloadType > 0)
        why += "; " + std::to_string(report.counters.otherPayloadType) +
               (report.counters.otherPayloadType == 1 ? " RTP packet of another payload type"
                                                      : " RTP packets of other payload types") +
               " (a dynamic mapping needs --payload-type N)";
    return why;
}

capture::CaptureReport ReadCaptureChecked(const Input& input, int payloadType, Warnings& warnings)
{
    capture::CaptureOptions options;
    options.payloadType = payloadType;
    capture::CaptureReport report;
    const std::string& name = input.name;
    if (input.isPath) {
        const std::string file = input.path == "-" ? "./-" : input.path;       // libpcap reads stdin for "-"
        const tools::Status probe = tools::ProbeInput(file, "not a capture");  // the command's probe
        if (!probe.ok()) {
            if (probe.systemError() != 0)
                throw InputError(probe.systemError(), probe.message());
            throw CaptureError(probe.message());
        }
        report = capture::ReadCaptureFile(file, options);
    } else {
        report = capture::ReadCaptureBytes(input.data, input.size, options);
    }
    if (report.status == capture::CaptureStatus::kNotACapture)
        throw CaptureError(name + ": not a pcap or pcapng capture (" + report.message + ")");
    if (report.status == capture::CaptureStatus::kTruncated)
        warnings.push_back(name + ": capture cut short or damaged after " + std::to_string(report.counters.records) +
                           " records (" + report.message + "); using what was read");
    if (report.streams.empty())
        throw CaptureError(NoStreamMessage(name, report, payloadType));
    return report;
}

StreamReport ReportStream(const capture::RtpStream& s)
{
    const capture::TimelineStats& t = s.timeline.stats;
    StreamReport r{};
    r.ssrc = s.ssrc;
    r.sourceAddress = capture::AddressText(s.source);
    r.sourcePort = s.source.port;
    r.destinationAddress = capture::AddressText(s.destination);
    r.destinationPort = s.destination.port;
    r.payloadType = s.payloadType;
    r.packets = t.packets;
    r.duplicates = t.duplicates;
    r.reordered = t.reordered;
    r.frames = t.frames;
    r.speechFrames = t.speechFrames;
    r.silenceFrames = t.silenceFrames;
    r.lostFrames = t.lostFrames;
    r.rateSwitches = t.rateSwitches;
    r.overlappingFrames = t.overlapping;
    r.timestampJumps = t.timestampJumps;
    r.cutShortPayloads = t.cutShortPayloads;
    r.durationSeconds = t.DurationSeconds();
    r.firstPacketTime = s.firstArrival;
    return r;
}

}  // namespace

std::vector<DecodedStream> ReadCapture(const Input& input, int payloadType, Warnings& warnings)
{
    const capture::CaptureReport report = ReadCaptureChecked(input, payloadType, warnings);
    std::vector<DecodedStream> streams;
    for (const capture::RtpStream& s : report.streams) {
        DecodedStream decoded{ReportStream(s), {}};
        decoded.pcm.reserve(static_cast<size_t>(s.timeline.stats.TimelineFrames()) * kFrameSamples);
        capture::DecodeStream(s, [&](const int16_t* samples, size_t count) {
            decoded.pcm.insert(decoded.pcm.end(), samples, samples + count);
            return true;
        });
        streams.push_back(std::move(decoded));
    }
    return streams;
}

}  // namespace mervox::python
