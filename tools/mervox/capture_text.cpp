// `mervox pcap` without --json: the capture, its streams and calls as lines of text.
#include <cstdio>
#include <optional>

#include "base/names.h"
#include "calls/call_quality.h"
#include "capture_report.h"

namespace mervox::cli {
namespace {

using media::base::DisplayName;
using media::capture::CaptureCounters;
using media::capture::CaptureReport;
using media::capture::CaptureStatus;
using media::capture::SkipReason;
using media::timeline::RtpStream;

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

// A party for a line of text: escaped, for a terminal is driven by what
// the capture says.
std::string PartyText(const media::signalling::NameAddress& a)
{
    const std::string uri = "<" + media::base::EscapeControlCharacters(a.uri) + ">";
    return a.displayName.empty() ? uri : "\"" + media::base::EscapeControlCharacters(a.displayName) + "\" " + uri;
}

void PrintCalls(const CaptureReport& r, const CallFiles* recordings)
{
    for (size_t i = 0; i < r.calls.size(); ++i) {
        const media::calls::Call& c = r.calls[i];
        std::printf("\ncall %zu  %s\n", i + 1,
                    c.signalled            ? "SIP"
                    : c.streams.size() > 1 ? "unsignalled pair"
                                           : "one direction");
        if (c.signalled) {
            const media::signalling::Dialog& d = r.dialogs[c.dialog];
            std::printf("  Call-ID:        %s\n", media::base::EscapeControlCharacters(d.callId).c_str());
            std::printf("  from:           %s\n", PartyText(d.from).c_str());
            std::printf("  to:             %s\n", PartyText(d.to).c_str());
            std::printf("  outcome:        %s%s\n",
                        d.finalStatus ? std::to_string(d.finalStatus).c_str() : "no final response",
                        d.encrypted ? " (encrypted media, not decoded)" : "");
        }
        std::printf("  duration:       %.2f s\n", c.end - c.start);
        if (recordings && !recordings->files[i].path.empty()) {
            const media::recorder::OutputFile& f = recordings->files[i];
            std::printf("  file:           %s (%s)%s\n", DisplayName(f.path).c_str(),
                        recordings->audio[i].channels == 2 ? "stereo" : "mono",
                        f.error.empty() ? "" : " (not written)");
            const std::vector<media::calls::SilenceCut>& cuts = recordings->audio[i].cuts;
            if (!cuts.empty()) {
                uint64_t cut = 0;
                for (const media::calls::SilenceCut& piece : cuts)
                    cut += piece.samples;
                std::printf("  silence cut:    %.2f s in %zu place%s where no stream had audio\n",
                            static_cast<double>(cut) / 8000.0, cuts.size(), cuts.size() == 1 ? "" : "s");
            }
            for (const media::calls::PlacedStream& p : recordings->audio[i].streams)
                if (p.reanchors)
                    std::printf("  re-anchored:    %s %llu time%s to its packets' arrival\n",
                                media::capture::SsrcText(r.streams[p.stream].ssrc).c_str(),
                                static_cast<unsigned long long>(p.reanchors), p.reanchors == 1 ? "" : "s");
                else if (p.fasterThanRealTime)
                    std::printf("  RTP time kept:  %s arrived faster than real time (a replayed capture?)\n",
                                media::capture::SsrcText(r.streams[p.stream].ssrc).c_str());
        }
        for (const bool fromCaller : {true, false})
            if (const auto q = media::calls::DirectionQuality(c, r.streams, fromCaller))
                std::printf("  heard by %s  R %.1f, MOS %.2f (%.1f%% lost after a %.0f ms jitter buffer)\n",
                            fromCaller ? "callee:" : "caller:", q->model.r, q->model.mos, q->lossPercent,
                            static_cast<double>(media::quality::kDefaultBufferNs) / 1e6);
        std::printf("  streams:       ");
        for (const media::calls::CallStream& cs : c.streams)
            std::printf(" %s", media::capture::SsrcText(r.streams[cs.stream].ssrc).c_str());
        std::printf("%s\n", c.streams.empty() ? " none" : "");
        std::string digits;
        for (const media::calls::CallStream& cs : c.streams)
            for (const media::packets::DtmfEvent& e : r.streams[cs.stream].dtmf)
                digits += e.digit;
        if (!digits.empty())
            std::printf("  DTMF:           %s\n", digits.c_str());
    }
}

}  // namespace

void PrintText(const std::string& name, const CaptureReport& r, const FileOf& files, const CallFiles* recordings)
{
    std::printf("capture: %s, %llu records, %llu G.723.1 stream%s\n", name.c_str(), U(r.counters.records),
                U(r.streamCount), r.streamCount == 1 ? "" : "s");
    const auto skipped = Skipped(r.counters);
    if (!skipped.empty()) {
        std::printf("skipped:");
        for (size_t i = 0; i < skipped.size(); ++i)
            std::printf("%s %s %llu", i ? "," : "", skipped[i].first.c_str(), U(skipped[i].second));
        std::printf("\n");
    }
    for (const media::records::InterfaceStatistics& i : r.interfaces) {
        // The capturing program's own counts, those it gave.
        std::string counts;
        const auto add = [&](const std::optional<uint64_t>& v, const char* what) {
            if (v)
                counts += (counts.empty() ? "" : ", ") + std::to_string(*v) + what;
        };
        add(i.received, " received");
        add(i.dropped, " dropped by the capture");
        add(i.systemDropped, " dropped by the system");
        if (!counts.empty())
            std::printf("interface %s: %s\n",
                        i.name.empty() ? std::to_string(i.interface).c_str()
                                       : media::base::EscapeControlCharacters(i.name).c_str(),
                        counts.c_str());
    }
    if (r.ringFilesRead || r.ringFilesLost)
        std::printf("ring buffer: %llu files read, %llu lost (removed before they could be read)\n", U(r.ringFilesRead),
                    U(r.ringFilesLost));
    if (r.callsNotListed)
        std::printf("calls: %llu closed, %llu not listed below\n", U(r.closedCalls), U(r.callsNotListed));
    for (const RtpStream& s : r.streams) {
        const media::timeline::TimelineStats& t = s.stats;
        std::printf("\nstream %s  %s -> %s  payload type %d\n", media::capture::SsrcText(s.ssrc).c_str(),
                    media::net::EndpointText(s.source).c_str(), media::net::EndpointText(s.destination).c_str(),
                    s.payloadType);
        std::printf("  packets:        %llu (%llu duplicates, %llu reordered)\n", U(t.packets), U(t.duplicates),
                    U(t.reordered));
        if (t.late)
            std::printf("  late packets:   %llu (too late for the %lld-packet reordering window, dropped)\n", U(t.late),
                        static_cast<long long>(media::timeline::kReorderWindow));
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
        const media::quality::RtpStats& q = s.quality.rtp;
        std::printf("  arrival:        %lld lost of %llu expected; jitter %.3f ms mean, %.3f ms max\n",
                    static_cast<long long>(q.lost), U(q.expected), q.jitterMs.mean, q.jitterMs.max);
        if (s.moveCount)
            std::printf("  moved:          %llu time%s to another call, first to call %zu\n", U(s.moveCount),
                        s.moveCount == 1 ? "" : "s", s.moves.front().to + 1);
        const media::recorder::OutputFile& f = files(s.id);
        std::printf("  output:         %s%s\n", f.path.c_str(), f.error.empty() ? "" : " (not written)");
    }
    PrintCalls(r, recordings);
}

}  // namespace mervox::cli
