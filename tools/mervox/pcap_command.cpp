// mervox pcap CAPTURE... [-o PREFIX] [--layout call|mixed|streams] [--json] [--payload-type N]
// [--allow-long-gaps]: every call of a packet capture to a WAV file of its
// own (stereo, or mixed), or every G.723.1 RTP stream to one, decoded while
// the capture is read. Several files of one recording are read as one
// capture, their records in time order.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/date_fields.h"
#include "base/make_directories.h"
#include "base/names.h"
#include "base/parallel_for.h"
#include "capture/capture.h"
#include "capture_report.h"
#include "commands.h"
#include "console.h"
#include "exit_codes.h"
#include "jobs_option.h"
#include "mervox.hpp"
#include "output/pcm_output.h"
#include "output/scratch_files.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "recorder/recorder.h"
#include "report/html_report.h"
#include "stream/input_file.h"
#include "stream/stream_stats.h"
#include "timeline/stream_timeline.h"

namespace mervox::cli {
namespace {

using media::base::DisplayName;
using media::base::PathWithoutExtension;
using media::capture::CaptureCounters;
using media::capture::CaptureReport;
using media::capture::CaptureStatus;
using media::capture::SkipReason;
using media::timeline::RtpStream;

struct PcapOptions {
    std::vector<std::string> inputs;
    std::string follow;  // a ring buffer's folder (dumpcap -b) instead of inputs
    std::string prefix;
    bool json = false;
    std::string jsonLines;  // one JSON line per call as it is written; "-": standard output
    std::string report;     // the HTML page's path; empty: none
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
    const std::string& input = options.follow.empty() ? options.inputs.front() : "-";
    const std::string stem = input == "-" ? "capture" : PathWithoutExtension(input);
    if (options.prefix.empty())
        return stem;
    if (!media::platform::EndsWithSeparator(options.prefix) && !media::output::IsDirectory(options.prefix))
        return options.prefix;
    return media::platform::Join(options.prefix, media::platform::BaseName(stem));
}

// Whether `what` can be created where `path` names it: its directory
// exists, is one, and may be written.
media::base::Status CheckDirectoryOf(const std::string& path, const std::string& what)
{
    const std::string dir = media::platform::DirectoryOf(path);
    media::platform::FileStatus st;
    int error = media::platform::StatPath(dir, &st);
    if (error == 0 && st.kind != media::platform::FileKind::kDirectory)
        error = ENOTDIR;
    else if (error == 0)
        error = media::platform::CanCreateIn(dir);
    if (error == 0)
        return media::base::Status::Ok();
    return media::base::Status::SystemFailure(media::base::kExitOutputError,
                                              DisplayName(dir) + ": cannot write " + what + " there", error);
}

// Makes sure, before the capture is read, that the files can go where
// PREFIX says: -o DIR/ creates a missing DIR (its parent must exist), as
// `decode -o DIR/` does; the directory of any other prefix must exist and
// be writable. Otherwise every stream would fail only once decoded.
media::base::Status PrepareOutputDirectory(const PcapOptions& options, const std::string& prefix)
{
    if (media::base::HasDateFields(options.prefix)) {
        // Folders by date are made as calls are written; the folder above
        // the first field is made now, and must be writable.
        const std::string fixed = options.prefix.substr(0, options.prefix.find('%'));
        const std::string top = fixed.substr(0, media::platform::NameStart(fixed));
        if (!top.empty()) {
            const media::base::Status made = media::base::MakeDirectories(top);
            if (!made.ok())
                return made;
        }
        return CheckDirectoryOf(fixed, "the output files");
    }
    const int unmade = !options.prefix.empty() && media::platform::EndsWithSeparator(options.prefix)
                           ? media::platform::MakeDirectory(options.prefix)
                           : 0;
    if (unmade != 0 && !media::output::IsDirectory(options.prefix)) {
        const int error = unmade;
        return media::base::Status::SystemFailure(media::base::kExitOutputError,
                                                  DisplayName(options.prefix) + ": cannot create the directory", error);
    }
    return CheckDirectoryOf(prefix, "the output files");
}

// Makes sure, before the capture is read, that the report page can go
// where --report says: its directory exists and may be written (standard
// output and descriptor paths need none).
media::base::Status PrepareReportDirectory(const std::string& page)
{
    if (page.empty() || page == "-" || page.compare(0, 5, "/dev/") == 0 || page.compare(0, 6, "/proc/") == 0)
        return media::base::Status::Ok();
    return CheckDirectoryOf(page, "the report");
}

// The audio a call was written to: its streams' files.
std::vector<std::string> CallAudioFiles(const CaptureReport& r, size_t call, const FileOf& files)
{
    std::vector<std::string> paths;
    for (const media::calls::CallStream& cs : r.calls[call].streams) {
        const media::recorder::OutputFile& f = files(r.streams[cs.stream].id);
        // In a call layout its streams share the call's one file.
        if (f.error.empty() && !f.path.empty() && std::find(paths.begin(), paths.end(), f.path) == paths.end())
            paths.push_back(f.path);
    }
    return paths;
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

// Descriptors left to the standard streams and the libraries, besides one
// for each capture (those overlapping in time are open together), when the
// limit on open files is lower than the pool's.
constexpr uint64_t kSpareDescriptors = 32;

// The output files' limits: the pool's, with no more files open at once
// than the descriptors this process may have leave room for.
media::output::OutputPool::Limits OutputLimits(size_t captures)
{
    media::output::OutputPool::Limits limits;
    const uint64_t kSpare = kSpareDescriptors + static_cast<uint64_t>(captures);
    if (const std::optional<uint64_t> files = media::platform::OpenFileLimit())
        limits.openFiles = static_cast<size_t>(std::min<uint64_t>(
            limits.openFiles, *files > 2 * kSpare ? *files - kSpare : std::max<uint64_t>(*files / 2, 1)));
    return limits;
}

// One JSON line per call, appended to FILE (or standard output) and
// flushed as each call's file is in place.
class CallLines {
public:
    CallLines(const std::string& path, const Console& console) : path_(path), console_(console) {}
    ~CallLines()
    {
        if (file_ && file_ != stdout)
            std::fclose(file_);
    }
    CallLines(const CallLines&) = delete;
    CallLines& operator=(const CallLines&) = delete;

    media::base::Status Open()
    {
        if (path_.empty())
            return media::base::Status::Ok();
        if (path_ == "-") {
            file_ = stdout;
            return media::base::Status::Ok();
        }
        file_ = media::platform::OpenStreamForAppending(path_);
        if (!file_)
            return media::base::Status::SystemFailure(media::base::kExitOutputError,
                                                      DisplayName(path_) + ": cannot open for the JSON lines", errno);
        return media::base::Status::Ok();
    }
    void Write(const std::string& line)
    {
        if (!file_ || failed_)
            return;
        if (std::fprintf(file_, "%s\n", line.c_str()) < 0 || std::fflush(file_) != 0) {
            failed_ = true;
            console_.Error(DisplayName(path_) + ": cannot write the JSON lines: " + std::strerror(errno));
        }
    }
    bool failed() const { return failed_; }

private:
    std::string path_;
    const Console& console_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

int RunPcap(const PcapOptions& options, const GlobalOptions& global)
{
    const auto started = std::chrono::system_clock::now();
    Console console(global.quiet);
    if (options.inputs.empty() == options.follow.empty()) {
        console.Error(options.follow.empty() ? "pcap: give a CAPTURE, or --follow DIR"
                                             : "pcap: --follow DIR reads the ring buffer's files: give no CAPTURE");
        return kExitUsage;
    }
    if (!options.follow.empty() && options.prefix.empty()) {
        console.Error("--follow: give the output folder with -o (not the ring buffer's folder)");
        return kExitUsage;
    }
    std::vector<std::string> names;
    std::string name;  // all of them, for text
    if (!options.follow.empty()) {
        names.push_back(DisplayName(options.follow));
        name = names.back();
    }
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
    if (const media::base::Status fields = media::base::CheckDateFields(options.prefix); !fields.ok()) {
        console.Error(fields.message());
        return fields.code();
    }
    if (options.jsonLines == "-" && options.json) {
        console.Error("--json-lines - and --json both write to standard output; give --json-lines a file");
        return kExitUsage;
    }
    for (const std::string& input : options.inputs) {
        const media::base::Status probed = media::stream::ProbeInput(input, "not a capture");
        if (!probed.ok()) {
            console.Error(probed.message());
            return probed.code();
        }
    }

    const std::string prefix = OutputPrefix(options);
    media::base::Status directory = PrepareOutputDirectory(options, prefix);
    if (directory.ok())
        directory = PrepareReportDirectory(options.report);
    CallLines lines(options.jsonLines, console);
    if (directory.ok())
        directory = lines.Open();
    if (!directory.ok()) {
        console.Error(directory.message());
        return directory.code();
    }

    // Scratch files of runs that crashed (their process gone, written
    // before this one began) are removed before this run writes its own.
    if (options.layout != "streams") {
        const media::output::StaleScratch stale = media::output::RemoveStaleScratchFiles(prefix, started);
        if (stale.removed)
            console.Warning(std::to_string(stale.removed) + " scratch file" + (stale.removed == 1 ? "" : "s") +
                            " of an earlier run that ended without finishing removed");
    }
    // The first SIGINT or SIGTERM (Ctrl-C) ends the capture there and the
    // calls in progress are written; a second one aborts.
    media::platform::InstallGracefulStop();

    media::capture::CaptureOptions captureOptions;
    captureOptions.payloadType = options.payloadType;
    captureOptions.timeline.limitConcealment = !options.allowLongGaps;
    captureOptions.series = !options.report.empty();
    // With --json-lines the calls are listed there, as they close: the
    // text report then gives the totals, and a recorder that runs for days
    // keeps no list.
    const bool listing = options.json || !options.report.empty() || (!global.quiet && options.jsonLines.empty());
    captureOptions.listCalls = listing;
    const media::calls::CallLayout layout = *media::calls::CallLayoutFromName(options.layout);
    const bool byCall = layout != media::calls::CallLayout::kStreams;

    // What the recorder wrote, kept for the calls the report lists.
    std::map<uint64_t, media::recorder::WrittenCall> writtenCalls;  // by call serial
    std::map<size_t, media::recorder::OutputFile> streamFiles;      // by stream id
    std::map<size_t, media::quality::StreamSeries> loudness;        // by stream id

    media::recorder::RecorderOptions recording;
    recording.layout = layout;
    recording.prefix = prefix;
    // Each worker decodes its streams into files of its own, at least one
    // open at once: no more workers than that allows.
    recording.limits = OutputLimits(options.inputs.size());
    recording.workers = static_cast<unsigned>(
        std::min<size_t>(options.jobs ? options.jobs : media::base::DefaultWorkerCount(), recording.limits.openFiles));
    recording.loudness = !options.report.empty();
    recording.failed = [&console](const media::base::Status&, const std::string& message) { console.Error(message); };
    uint64_t streamsSeen = 0;
    recording.recorded = [&](media::recorder::RecordedCall& call) {
        lines.Write(CallLine(call, byCall));
        const media::calls::CallRecord& record = *call.record;
        streamsSeen += record.streams.size();
        if (!listing || record.call.serial >= media::capture::kMaxListedCalls)
            return;
        for (size_t k = 0; k < record.streams.size(); ++k) {
            if (k < call.streamFiles.size())
                streamFiles[record.streams[k].id] = call.streamFiles[k];
            if (k < call.loudness.size())
                loudness[record.streams[k].id] = std::move(call.loudness[k]);
        }
        if (byCall)
            writtenCalls[record.call.serial] = std::move(call.written);
    };
    // A status line on a terminal, for a capture that may run for days.
    recording.progress = [&console](const media::capture::CaptureProgress& p) {
        console.Status("records " + std::to_string(p.records) + ", streams " + std::to_string(p.liveStreams) +
                       ", SIP calls open " + std::to_string(p.openSipCalls) + ", calls closed " +
                       std::to_string(p.closedCalls) + " (capture time " +
                       media::base::ExpandDateFields("%Y-%m-%d %H:%M:%S", p.time) + " UTC)");
    };
    media::recorder::Recorder recorder(recording);
    CaptureReport report;
    if (!options.follow.empty()) {
        media::records::RingOptions ring;
        ring.directory = options.follow;
        ring.note = [&console](const std::string& text) { console.Warning(text); };
        ring.stop = [] { return media::platform::StopRequested(); };
        report = media::capture::ReadRing(ring, captureOptions, recorder);
    } else if (options.inputs.size() == 1) {
        report = media::capture::ReadCapture(options.inputs.front(), captureOptions, recorder);
    } else {
        report = media::capture::ReadCaptures(options.inputs, captureOptions, recorder);
    }
    recorder.Finish();
    console.EndProgress();

    // The listed calls' recordings, in the report's order.
    CallFiles recordings;
    if (byCall) {
        recordings.audio.resize(report.calls.size());
        recordings.files.resize(report.calls.size());
        recordings.callOf.assign(report.streams.size(), SIZE_MAX);
        for (size_t c = 0; c < report.calls.size(); ++c) {
            const auto found = writtenCalls.find(report.calls[c].serial);
            if (found != writtenCalls.end()) {
                recordings.audio[c] = found->second.audio;
                recordings.files[c] = found->second.file;
                // Placement refers to the call's own streams: to the report's.
                for (media::calls::PlacedStream& p : recordings.audio[c].streams)
                    p.stream = report.calls[c].streams[p.stream].stream;
            }
            for (const media::calls::CallStream& cs : report.calls[c].streams)
                recordings.callOf[cs.stream] = c;
        }
    }
    // Per stream id, in a call layout: the recording that holds it.
    std::map<size_t, const media::recorder::OutputFile*> recordingOf;
    for (size_t i = 0; byCall && i < report.streams.size(); ++i)
        if (recordings.callOf[i] != SIZE_MAX)
            recordingOf[report.streams[i].id] = &recordings.files[recordings.callOf[i]];
    const media::recorder::OutputFile none;
    const FileOf fileOf = [&](size_t id) -> const media::recorder::OutputFile& {
        if (byCall)
            return recordingOf.count(id) ? *recordingOf.at(id) : none;
        const auto found = streamFiles.find(id);
        return found == streamFiles.end() ? none : found->second;
    };
    const int filesStatus = recorder.status();
    if (filesStatus == kExitOutOfMemory)
        console.Error("out of memory");
    if (report.status == CaptureStatus::kNotACapture || report.status == CaptureStatus::kUnreadable) {
        // Of several, the first whose status it is.
        std::string which = name;
        for (size_t k = report.files.size(); k-- > 0;)
            if (report.files[k].status == report.status)
                which = names.at(k);
        if (report.status == CaptureStatus::kUnreadable)
            console.Error(which + ": " + report.message);
        else
            console.Error(which + ": not a pcap or pcapng capture (" + report.message + ")");
        return report.systemError == ENOMEM ? kExitOutOfMemory : kExitBadInput;
    }
    if (report.files.empty() && report.status == CaptureStatus::kTruncated)
        console.Warning(name + ": capture cut short or damaged after " + std::to_string(report.counters.records) +
                        " records (" + report.message + "); using what was read");
    for (size_t k = 0; k < report.files.size(); ++k)
        if (report.files[k].status == CaptureStatus::kTruncated)
            console.Warning(names[k] + ": capture cut short or damaged after " +
                            std::to_string(report.files[k].records) + " records (" + report.files[k].message +
                            "); using what was read and the other captures");
    for (const media::records::InterfaceStatistics& i : report.interfaces)
        if (i.dropped.value_or(0) + i.systemDropped.value_or(0) > 0)
            console.Warning(name + ": the capture lost " +
                            std::to_string(i.dropped.value_or(0) + i.systemDropped.value_or(0)) +
                            " packets on interface " + (i.name.empty() ? std::to_string(i.interface) : i.name) +
                            " (the capturing program says so): calls may have gaps");
    if (report.stopped)
        console.Note(name + ": stopped; the calls in progress were written up to the stop");
    if (report.ringFilesLost)
        console.Warning(name + ": " + std::to_string(report.ringFilesLost) +
                        " files of the ring buffer were removed before they could be read: mervox fell behind");
    for (const RtpStream& s : report.streams)
        if (s.stats.unfilledFrames > 0)
            console.Warning(name + ": stream " + media::capture::SsrcText(s.ssrc) + ": " +
                            std::to_string(s.stats.unfilledFrames) +
                            " missing frames left out: its gaps exceed what its frames and the capture's "
                            "duration account for (--allow-long-gaps fills them)");

    if (options.json)
        PrintJson(names, report, fileOf, byCall ? &recordings : nullptr);
    else if (!global.quiet && options.jsonLines != "-")
        PrintText(name, report, fileOf, byCall ? &recordings : nullptr);
    const bool reportWritten = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int reportErrno = errno;

    int status = kExitOk;
    if (!options.report.empty()) {
        mervox::media::report::ReportInput page;
        page.captureName = name;
        page.capture = &report;
        page.pagePath = options.report;
        page.audioFiles = [&](size_t call) { return CallAudioFiles(report, call, fileOf); };
        page.loudness = [&](size_t stream) -> const media::quality::StreamSeries* {
            const auto found = loudness.find(report.streams[stream].id);
            return found == loudness.end() ? nullptr : &found->second;
        };
        page.silenceCuts = [&](size_t call) {
            std::vector<std::pair<double, double>> cuts;
            if (byCall)
                for (const media::calls::SilenceCut& cut : recordings.audio[call].cuts)
                    cuts.emplace_back(static_cast<double>(cut.at) / 8000.0, static_cast<double>(cut.samples) / 8000.0);
            return cuts;
        };
        const media::base::Status written = mervox::media::report::WriteHtmlReport(page);
        if (!written.ok()) {
            console.Error(written.message().empty() ? options.report + ": reader went away" : written.message());
            status = kExitOutputError;
        }
    }
    if (streamsSeen == 0) {
        console.Error(NoStreamMessage(name, options, report));
        status = kExitBadInput;
    }
    status = std::max(status, filesStatus);
    if (lines.failed())
        status = std::max<int>(status, kExitOutputError);
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
                    "buffer's) are read as one capture, their records in time order");
    app->add_option("--follow", options->follow,
                    "Read the files of a ring buffer (dumpcap -b ... -w DIR/NAME) in DIR as each is closed, until "
                    "stopped; needs -o");
    app->add_option("-o,--output", options->prefix,
                    "Prefix of the WAV files: PREFIX-<UTC start>-<from>-<to>.wav (or PREFIX-0xSSRC.wav); a "
                    "directory (or a name ending in '/') puts CAPTURE's name inside it; %Y %m %d %H %M %S are "
                    "the call's UTC start (-o calls/%Y/%m/%d/: a folder per day). Default: CAPTURE (the "
                    "first one) without its extension ('capture' when reading stdin)");
    app->add_option("--layout", options->layout,
                    "call (default): PREFIX-<UTC start>-<from>-<to>.wav per call, caller left, callee right (a "
                    "stream without signalling or partner: mono); mixed: the same, both directions on one channel; "
                    "streams: PREFIX-0xSSRC.wav per stream")
        ->check(CLI::IsMember({"call", "mixed", "streams"}));
    app->add_flag("--json", options->json, "Print the per-stream report as JSON");
    app->add_option("--json-lines", options->jsonLines,
                    "Append one JSON object per call to FILE ('-': standard output) as each call's file is written "
                    "(the object of --json's calls[], with its streams' figures), flushed line by line");
    app->add_option("--report", options->report,
                    "Write the calls as one self-contained HTML page: a table of calls, worst first, and "
                    "drawings over time of the worst ones (timeline, loudness, jitter, losses)");
    app->add_option("--payload-type", options->payloadType,
                    "RTP payload type carrying G.723.1 (default 4; for dynamic mappings)")
        ->check(CLI::Range(0, 127));
    app->add_flag("--allow-long-gaps", options->allowLongGaps,
                  "Fill every gap with lost frames, even beyond what a stream's frames and the capture's duration "
                  "account for (each gap still at most " +
                      std::to_string(std::lround(media::stream::FramesToSeconds(media::timeline::kMaxGapFrames))) +
                      " s)");
    app->add_option("-j,--jobs", options->jobs,
                    "Threads decoding the streams, each stream on one (default: the number of processors)")
        ->check(JobsText);
    return {app, [options](const GlobalOptions& global) { return RunPcap(*options, global); }};
}

}  // namespace mervox::cli
