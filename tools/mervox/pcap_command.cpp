// mervox pcap CAPTURE [-o PREFIX] [--json] [--payload-type N]: every
// G.723.1 RTP stream of a packet capture to its own WAV file.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "input_file.h"
#include "mervox.hpp"
#include "names.h"
#include "pcm_output.h"
#include "stream_decoder.h"

namespace mervox::cli {
namespace {

using capture::CaptureCounters;
using capture::CaptureReport;
using capture::CaptureStatus;
using capture::RtpStream;
using tools::DisplayName;
using tools::PathWithoutExtension;

struct PcapOptions {
    std::string input;
    std::string prefix;
    bool json = false;
    int payloadType = 4;
};

// CAPTURE without its extension, so call.pcapng gives call-0x....wav beside it.
std::string DefaultPrefix(const std::string& input)
{
    if (input == "-")
        return "capture";
    return PathWithoutExtension(input);
}

// PREFIX-0xSSRC.wav; a second stream with the same SSRC (other addresses)
// gets -2, a third -3, ...
std::vector<std::string> OutputPaths(const std::string& prefix, const std::vector<RtpStream>& streams)
{
    std::map<uint32_t, int> seen;
    std::vector<std::string> paths;
    for (const RtpStream& s : streams) {
        const int n = ++seen[s.ssrc];
        paths.push_back(prefix + "-" + capture::SsrcText(s.ssrc) + (n > 1 ? "-" + std::to_string(n) : "") + ".wav");
    }
    return paths;
}

// Records skipped, by reason (only the nonzero ones).
std::vector<std::pair<std::string, uint64_t>> Skipped(const CaptureCounters& c)
{
    const std::pair<std::string, uint64_t> all[] = {
        {"not_ip", c.notIp},
        {"unsupported_link_type", c.unsupportedLink},
        {"cut_short", c.cutShort},
        {"malformed_ip_or_udp", c.malformedIp},
        {"ip_fragments", c.fragments},
        {"not_udp", c.notUdp},
        {"udp_not_rtp", c.notRtp},
        {"malformed_rtp", c.malformedRtp},
        {"other_payload_type", c.otherPayloadType},
        {"no_frames", c.emptyPackets},
    };
    std::vector<std::pair<std::string, uint64_t>> nonzero;
    for (const auto& entry : all)
        if (entry.second)
            nonzero.push_back(entry);
    return nonzero;
}

nlohmann::ordered_json EndpointJson(const capture::Endpoint& e)
{
    return {{"address", capture::AddressText(e)}, {"port", e.port}};
}

nlohmann::ordered_json StreamJson(const RtpStream& s, const std::string& output)
{
    const capture::TimelineStats& t = s.timeline.stats;
    return {
        {"ssrc", capture::SsrcText(s.ssrc)},
        {"source", EndpointJson(s.source)},
        {"destination", EndpointJson(s.destination)},
        {"payload_type", s.payloadType},
        {"packets", t.packets},
        {"duplicates", t.duplicates},
        {"reordered", t.reordered},
        {"frames", t.frames},
        {"speech_frames", t.speechFrames},
        {"silence_frames", t.silenceFrames},
        {"lost_frames", t.lostFrames},
        {"rate_switches", t.rateSwitches},
        {"overlapping_frames", t.overlapping},
        {"timestamp_jumps", t.timestampJumps},
        {"cut_short_payloads", t.cutShortPayloads},
        {"duration_seconds", t.DurationSeconds()},
        {"first_packet_time", s.firstArrival},
        {"output", output},
    };
}

void PrintJson(const std::string& name, const CaptureReport& r, const std::vector<std::string>& outputs)
{
    nlohmann::ordered_json j;
    j["capture"] = name;
    j["truncated"] = r.status == CaptureStatus::kTruncated;
    if (!r.message.empty())
        j["message"] = r.message;
    j["link_type"] = r.linkType;
    j["records"] = r.counters.records;
    j["skipped"] = nlohmann::ordered_json::object();
    for (const auto& [reason, count] : Skipped(r.counters))
        j["skipped"][reason] = count;
    j["streams"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < r.streams.size(); ++i)
        j["streams"].push_back(StreamJson(r.streams[i], outputs[i]));
    // File names need not be UTF-8; dump() would throw on them.
    std::printf("%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void PrintText(const std::string& name, const CaptureReport& r, const std::vector<std::string>& outputs)
{
    std::printf("capture: %s, %llu records, %zu G.723.1 stream%s\n", name.c_str(),
                static_cast<unsigned long long>(r.counters.records), r.streams.size(),
                r.streams.size() == 1 ? "" : "s");
    const auto skipped = Skipped(r.counters);
    if (!skipped.empty()) {
        std::printf("skipped:");
        for (size_t i = 0; i < skipped.size(); ++i)
            std::printf("%s %s %llu", i ? "," : "", skipped[i].first.c_str(),
                        static_cast<unsigned long long>(skipped[i].second));
        std::printf("\n");
    }
    for (size_t i = 0; i < r.streams.size(); ++i) {
        const RtpStream& s = r.streams[i];
        const capture::TimelineStats& t = s.timeline.stats;
        std::printf("\nstream %s  %s -> %s  payload type %d\n", capture::SsrcText(s.ssrc).c_str(),
                    capture::EndpointText(s.source).c_str(), capture::EndpointText(s.destination).c_str(),
                    s.payloadType);
        std::printf("  packets:        %llu (%llu duplicates, %llu reordered)\n",
                    static_cast<unsigned long long>(t.packets), static_cast<unsigned long long>(t.duplicates),
                    static_cast<unsigned long long>(t.reordered));
        std::printf("  frames:         %llu (%llu speech, %llu silence)\n", static_cast<unsigned long long>(t.frames),
                    static_cast<unsigned long long>(t.speechFrames), static_cast<unsigned long long>(t.silenceFrames));
        std::printf("  lost frames:    %llu\n", static_cast<unsigned long long>(t.lostFrames));
        std::printf("  rate switches:  %llu\n", static_cast<unsigned long long>(t.rateSwitches));
        if (t.overlapping || t.timestampJumps || t.cutShortPayloads)
            std::printf("  anomalies:      %llu overlapping frames, %llu timestamp jumps, %llu cut-short payloads\n",
                        static_cast<unsigned long long>(t.overlapping),
                        static_cast<unsigned long long>(t.timestampJumps),
                        static_cast<unsigned long long>(t.cutShortPayloads));
        std::printf("  duration:       %.2f s\n", t.DurationSeconds());
        std::printf("  output:         %s\n", outputs[i].c_str());
    }
}

// Decodes one stream into its WAV file; empty on success, else the error.
std::string WriteStream(const RtpStream& stream, const std::string& path, Console& console)
{
    tools::Result<std::unique_ptr<tools::PcmSink>> out = tools::OpenPcmOutput(path, tools::PcmFormat::kWav);
    if (!out.ok())
        return out.status().message();
    tools::PcmSink& sink = *out.value();
    const std::string label = "decoding " + capture::SsrcText(stream.ssrc);
    const size_t total = stream.timeline.stats.TimelineFrames();
    size_t done = 0;
    tools::Status status;
    capture::DecodeStream(stream, [&](const int16_t* samples, size_t count) {
        console.Progress(label, ++done, total);
        status = sink.Write(samples, count);
        return status.ok();
    });
    console.EndProgress();
    if (status.ok())
        status = sink.Finish();
    return status.ok() ? "" : status.message();
}

int RunPcap(const PcapOptions& options, const GlobalOptions& global)
{
    Console console(global.quiet);
    const std::string name = DisplayName(options.input);
    const tools::Status probed = tools::ProbeInput(options.input, "not a capture");
    if (!probed.ok()) {
        console.Error(probed.message());
        return probed.code();
    }

    capture::CaptureOptions captureOptions;
    captureOptions.payloadType = options.payloadType;
    const CaptureReport report = capture::ReadCaptureFile(options.input, captureOptions);
    if (report.status == CaptureStatus::kNotACapture) {
        console.Error(name + ": not a pcap or pcapng capture (" + report.message + ")");
        return kExitBadInput;
    }
    if (report.status == CaptureStatus::kTruncated)
        console.Warning(name + ": capture cut short or damaged after " + std::to_string(report.counters.records) +
                        " records (" + report.message + "); using what was read");

    const std::string prefix = options.prefix.empty() ? DefaultPrefix(options.input) : options.prefix;
    const std::vector<std::string> outputs = OutputPaths(prefix, report.streams);
    if (options.json)
        PrintJson(name, report, outputs);
    else if (!global.quiet)
        PrintText(name, report, outputs);
    const bool reportWritten = std::fflush(stdout) == 0 && !std::ferror(stdout);

    if (report.streams.empty()) {
        std::string why = name + ": no G.723.1 RTP stream (payload type " + std::to_string(options.payloadType) +
                          ") in " + std::to_string(report.counters.records) + " records";
        if (!report.message.empty() && report.status == CaptureStatus::kOk)
            why += "; " + report.message;
        if (report.counters.otherPayloadType > 0)
            why += "; " + std::to_string(report.counters.otherPayloadType) +
                   (report.counters.otherPayloadType == 1 ? " RTP packet of another payload type"
                                                          : " RTP packets of other payload types") +
                   " (a dynamic mapping needs --payload-type N)";
        console.Error(why);
        return kExitBadInput;
    }
    for (size_t i = 0; i < report.streams.size(); ++i) {
        const std::string error = WriteStream(report.streams[i], outputs[i], console);
        if (!error.empty()) {
            console.Error(error);
            return kExitOutputError;
        }
    }
    if (!reportWritten) {
        console.Error("<stdout>: cannot write the report: " + std::string(std::strerror(errno)));
        return kExitOutputError;
    }
    return kExitOk;
}

}  // namespace

Subcommand AddPcapCommand(CLI::App& parent)
{
    auto options = std::make_shared<PcapOptions>();
    CLI::App* app = parent.add_subcommand(
        "pcap", "Decode every G.723.1 RTP stream of a pcap or pcapng capture to PREFIX-0xSSRC.wav");
    app->add_option("CAPTURE", options->input, "Capture file (pcap or pcapng), '-' for stdin")->required();
    app->add_option("-o,--output", options->prefix,
                    "Prefix of the WAV files: PREFIX-0xSSRC.wav. Default: CAPTURE without its extension "
                    "('capture' when reading stdin)");
    app->add_flag("--json", options->json, "Print the per-stream report as JSON");
    app->add_option("--payload-type", options->payloadType,
                    "RTP payload type carrying G.723.1 (default 4; for dynamic mappings)")
        ->check(CLI::Range(0, 127));
    return {app, [options](const GlobalOptions& global) { return RunPcap(*options, global); }};
}

}  // namespace mervox::cli
