#include "report/call_charts.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "report/svg_chart.h"

namespace mervox::media::report {
namespace {

// A stream placed on the call's time axis.
struct Placed {
    const timeline::RtpStream* stream = nullptr;
    const quality::StreamSeries* loudness = nullptr;
    double offset = 0;  // its first packet, seconds after the call's start
};

double WidthSeconds(const quality::StreamSeries& s) { return static_cast<double>(s.widthNs()) / 1e9; }

double SeriesEnd(const Placed& p, const quality::StreamSeries& s)
{
    return p.offset + WidthSeconds(s) * static_cast<double>(s.buckets().size());
}

// A value per bucket as a line; buckets without samples (or packets) break it.
template <typename Value, typename Has>
void Lines(SvgChart& chart, const Placed& p, const quality::StreamSeries& s, Value value, Has has, const char* cssClass)
{
    std::vector<std::pair<double, double>> points;
    const double w = WidthSeconds(s);
    for (size_t i = 0; i < s.buckets().size(); ++i) {
        const quality::SeriesBucket& b = s.buckets()[i];
        if (!has(b)) {
            chart.Line(points, cssClass);
            points.clear();
            continue;
        }
        points.emplace_back(p.offset + (static_cast<double>(i) + 0.5) * w, value(b));
    }
    if (points.size() == 1)  // one point: a short level line
        points.emplace_back(points.front().first + w / 4, points.front().second);
    chart.Line(points, cssClass);
}

}  // namespace

std::string CallCharts(const ReportInput& input, size_t index)
{
    const capture::CaptureReport& r = *input.capture;
    const calls::Call& c = r.calls[index];
    std::vector<Placed> directions[2];  // [0] caller -> callee, [1] callee -> caller
    size_t left[2] = {0, 0};
    double seconds = c.end - c.start;
    for (const calls::CallStream& cs : c.streams) {
        const int d = cs.fromCaller ? 0 : 1;
        if (directions[d].size() >= kDrawnStreams) {
            ++left[d];
            continue;
        }
        Placed p;
        p.stream = &r.streams[cs.stream];
        p.loudness = input.loudness ? input.loudness(cs.stream) : nullptr;
        p.offset = std::max(0.0, p.stream->firstArrival - c.start);
        seconds = std::max({seconds, SeriesEnd(p, p.stream->timelineSeries), SeriesEnd(p, p.stream->quality.arrivals)});
        directions[d].push_back(p);
    }
    const char* names[2] = {"caller \u2192 callee", "callee \u2192 caller"};
    const char* lineClass[2] = {"line caller", "line callee"};
    std::string html;

    // Timeline: a lane per direction, each bucket split by what its frames were.
    SvgChart timeline("Timeline of both directions: speech, silence and concealed losses", seconds, 0, 2, 64, "");
    for (int d = 0; d < 2; ++d) {
        const double base = d == 0 ? 1.1 : 0.1;
        timeline.Label(base + 0.4, names[d]);
        for (const Placed& p : directions[d]) {
            const quality::StreamSeries& s = p.stream->timelineSeries;
            const double w = WidthSeconds(s);
            for (size_t i = 0; i < s.buckets().size(); ++i) {
                const quality::SeriesBucket& b = s.buckets()[i];
                const auto total = static_cast<double>(b.speechFrames + b.silenceFrames + b.lostFrames);
                if (total == 0)
                    continue;
                const double t0 = p.offset + static_cast<double>(i) * w, t1 = t0 + w;
                double v = base;
                const std::pair<uint64_t, const char*> parts[] = {
                    {b.speechFrames, "speech"}, {b.silenceFrames, "silence"}, {b.lostFrames, "lost"}};
                for (const auto& [frames, cls] : parts) {
                    const double h = 0.8 * static_cast<double>(frames) / total;
                    timeline.Rect(t0, t1, v, v + h, cls);
                    v += h;
                }
            }
        }
    }
    html += "<figure>" + timeline.Svg() +
            "<figcaption><span class=\"key speech\"></span>speech <span class=\"key silence\"></span>silence "
            "(descriptors, untransmitted) <span class=\"key lost\"></span>lost, concealed; each bar one "
            "bucket of the timeline</figcaption></figure>";

    // Loudness of each channel's decoded audio.
    SvgChart loudness("Loudness of each channel", seconds, -70, 0, 90, "dBFS");
    bool haveLoudness = false;
    for (int d = 0; d < 2; ++d)
        for (const Placed& p : directions[d])
            if (p.loudness) {
                haveLoudness = true;
                Lines(
                    loudness, p, *p.loudness, [](const quality::SeriesBucket& b) { return b.LoudnessDbfs(); },
                    [](const quality::SeriesBucket& b) { return b.samples > 0; }, lineClass[d]);
            }
    if (haveLoudness)
        html += "<figure>" + loudness.Svg() +
                "<figcaption><span class=\"key caller\"></span>caller's channel <span class=\"key callee\"></span>"
                "callee's channel: RMS level of the decoded audio per bucket</figcaption></figure>";

    // Jitter and lost packets, by capture time.
    double jitterMax = 10, lostMax = 1;
    for (int d = 0; d < 2; ++d)
        for (const Placed& p : directions[d])
            for (const quality::SeriesBucket& b : p.stream->quality.arrivals.buckets()) {
                jitterMax = std::max(jitterMax, b.jitterMaxMs);
                lostMax = std::max(lostMax, static_cast<double>(b.lostPackets));
            }
    SvgChart jitter("Interarrival jitter", seconds, 0, std::ceil(jitterMax), 90, "ms");
    SvgChart lost("Packets lost", seconds, 0, std::ceil(lostMax), 60, "lost");
    for (int d = 0; d < 2; ++d)
        for (const Placed& p : directions[d]) {
            const quality::StreamSeries& s = p.stream->quality.arrivals;
            Lines(
                jitter, p, s, [](const quality::SeriesBucket& b) { return b.jitterMaxMs; },
                [](const quality::SeriesBucket& b) { return b.packets > 0; }, lineClass[d]);
            const double w = WidthSeconds(s);
            for (size_t i = 0; i < s.buckets().size(); ++i)
                if (s.buckets()[i].lostPackets > 0) {
                    // Side by side: the caller's in the bucket's first half.
                    const double t0 = p.offset + (static_cast<double>(i) + 0.5 * d) * w;
                    lost.Rect(t0, t0 + 0.5 * w, 0, static_cast<double>(s.buckets()[i].lostPackets),
                              d == 0 ? "bar caller" : "bar callee");
                }
        }
    html += "<figure>" + jitter.Svg() +
            "<figcaption>Interarrival jitter (RFC 3550), its largest value per bucket: <span class=\"key "
            "caller\"></span>caller \u2192 callee <span class=\"key callee\"></span>callee \u2192 caller"
            "</figcaption></figure>";
    html += "<figure>" + lost.Svg() +
            "<figcaption>Packets lost per bucket (sequence numbers expected, not received)</figcaption></figure>";
    for (int d = 0; d < 2; ++d)
        if (left[d])
            html +=
                "<p class=\"note\">" + std::to_string(left[d]) + " more streams " + names[d] + " are not drawn.</p>";
    return html;
}

}  // namespace mervox::media::report
