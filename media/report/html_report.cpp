#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numeric>

#include "base/utc_time.h"
#include "calls/call_figures.h"
#include "output/document_output.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "report/call_charts.h"
#include "report/html_text.h"
#include "report/svg_chart.h"

namespace mervox::media::report {
namespace {

// Shown of a party or an address; the JSON has them whole.
constexpr size_t kShownCharacters = 60;
// Audio links in a row of the table (a call with more streams says so).
constexpr size_t kLinksPerRow = 4;
// The table stops growing past this; the drawings stop before the page
// would pass kMaxPageBytes less the end of the page.
constexpr size_t kTableBytes = 16u << 20;
constexpr size_t kPageEndBytes = 4096;

const char kStyle[] = R"css(
body{font:14px/1.4 sans-serif;margin:1.5em;color:#222;background:#fff}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:2em;border-top:1px solid #ccc;padding-top:.6em}
table{border-collapse:collapse;font-variant-numeric:tabular-nums}
th,td{border:1px solid #ccc;padding:.2em .45em;text-align:left;vertical-align:top}
th{background:#eee}td.num{text-align:right}
tr.bad td{background:#fbd5d5}tr.poor td{background:#fdebc8}
tr.bad td.rating{color:#a00;font-weight:bold}tr.poor td.rating{color:#a60;font-weight:bold}
.note{color:#555}
figure{margin:.6em 0}figcaption{font-size:.9em;color:#444}
svg text{font:11px sans-serif;fill:#333}svg text.axis,svg text.lane{text-anchor:end}
svg text.tick{text-anchor:middle}
rect.plot{fill:#fafafa;stroke:#bbb}
rect.speech{fill:#2e9e4f}rect.silence{fill:#c9c9c9}rect.lost{fill:#d62728}
polyline.line{fill:none;stroke-width:1.5}polyline.caller{stroke:#1f5fb4}polyline.callee{stroke:#e07b00}
rect.bar.caller{fill:#1f5fb4}rect.bar.callee{fill:#e07b00}
.key{display:inline-block;width:.9em;height:.9em;margin:0 .25em 0 .6em;vertical-align:middle}
.key.speech{background:#2e9e4f}.key.silence{background:#c9c9c9}.key.lost{background:#d62728}
.key.caller{background:#1f5fb4}.key.callee{background:#e07b00}
)css";

std::string Escaped(const std::string& text) { return HtmlEscape(ShortText(text, kShownCharacters)); }

// "2023-11-14 22:13:20": the second of a capture time, UTC.
std::string UtcText(double seconds)
{
    std::tm tm;
    if (!base::UtcFields(seconds, &tm))  // before 1970, past the year 3000: shown as it is
        return Fixed(seconds, 3);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string Cell(const char* cls, const std::string& html, bool number = false)
{
    return std::string("<td class=\"") + cls + (number ? " num" : "") + "\">" + html + "</td>";
}

std::string QualityCells(const std::optional<quality::ListeningQuality>& q, const char* direction)
{
    const std::string mos = std::string("mos-") + direction, r = std::string("r-") + direction;
    if (!q)
        return Cell(mos.c_str(), "\u2013", true) + Cell(r.c_str(), "\u2013", true);
    return Cell(mos.c_str(), Fixed(q->model.mos, 2), true) + Cell(r.c_str(), Fixed(q->model.r, 1), true);
}

std::string LossText(const std::optional<quality::ListeningQuality>& q, const char* direction)
{
    return std::string("<span class=\"loss-") + direction + "\">" + (q ? Fixed(q->lossPercent, 1) : "\u2013") +
           "</span>";
}

// Where the page's links start: its directory, made absolute.
std::string PageDirectory(const ReportInput& input)
{
    // Names with '/' between folders (on Windows too), as links have them.
    const std::string cwd = input.workingDirectory.empty() ? platform::CurrentDirectory() : input.workingDirectory;
    const std::string pagePath = platform::WithSlashes(input.pagePath);
    const std::string page = platform::IsAbsolute(pagePath) ? pagePath : cwd + "/" + pagePath;
    return page.substr(0, page.find_last_of('/') + 1);
}

std::string AudioLinks(const ReportInput& input, const std::string& pageDirectory, size_t call, size_t most)
{
    const std::vector<std::string> files = input.audioFiles ? input.audioFiles(call) : std::vector<std::string>();
    if (files.empty())
        return "\u2013";
    const std::string cwd = input.workingDirectory.empty() ? platform::CurrentDirectory() : input.workingDirectory;
    std::string html;
    for (size_t i = 0; i < files.size() && i < most; ++i) {
        const std::string f = platform::WithSlashes(files[i]);
        const std::string link = RelativePath(pageDirectory, platform::IsAbsolute(f) ? f : cwd + "/" + f);
        const size_t slash = f.find_last_of('/');
        html += std::string(i ? "<br>" : "") + "<a class=\"wav\" href=\"" + HtmlEscape(UrlPath(link)) + "\">" +
                HtmlEscape(slash == std::string::npos ? f : f.substr(slash + 1)) + "</a>";
    }
    if (files.size() > most)
        html += "<br>" + std::to_string(files.size() - most) + " more";
    return html;
}

// Where the recording of call k had silence cut out of it: empty, or a
// sentence (up to `most` cuts listed).
std::string SilenceCutText(const ReportInput& input, size_t k, size_t most)
{
    const std::vector<std::pair<double, double>> cuts =
        input.silenceCuts ? input.silenceCuts(k) : std::vector<std::pair<double, double>>();
    if (cuts.empty())
        return "";
    double seconds = 0;
    for (const auto& cut : cuts)
        seconds += cut.second;
    std::string text = Fixed(seconds, 2) + " s of silence cut from the recording (at";
    for (size_t i = 0; i < cuts.size() && i < most; ++i)
        text += std::string(i ? ", " : " ") + Fixed(cuts[i].first, 2) + " s";
    if (cuts.size() > most)
        text += " and " + std::to_string(cuts.size() - most) + " more places";
    return text + ").";
}

std::string Row(const ReportInput& input, const std::string& pageDirectory, size_t k, const calls::CallFigures& f,
                bool drawn)
{
    const capture::CaptureReport& r = *input.capture;
    const calls::Call& c = r.calls[k];
    const char* rating = calls::RatingOf(f);
    std::string row = "<tr class=\"call " + std::string(rating) + "\" data-call=\"" + std::to_string(k) + "\">";
    row += Cell("n", drawn ? "<a href=\"#call-" + std::to_string(k) + "\">" + std::to_string(k + 1) + "</a>"
                           : std::to_string(k + 1));
    row += Cell("rating", rating);
    row += Cell("when", UtcText(c.start));
    row += Cell("from", Escaped(f.from));
    row += Cell("to", Escaped(f.to));
    row += Cell("duration", Fixed(f.duration, 2), true);
    row += Cell("outcome", HtmlEscape(f.outcome));
    row += QualityCells(f.callerToCallee, "caller");
    row += QualityCells(f.calleeToCaller, "callee");
    row += Cell("loss", LossText(f.callerToCallee, "caller") + " / " + LossText(f.calleeToCaller, "callee"), true);
    row += Cell("jitter", f.haveJitter ? Fixed(f.jitterMaxMs, 2) : "\u2013", true);
    const std::string cut = SilenceCutText(input, k, 1);
    row += Cell("audio", AudioLinks(input, pageDirectory, k, kLinksPerRow) +
                             (cut.empty() ? "" : "<br><span class=\"cut\">" + cut + "</span>"));
    return row + "</tr>\n";
}

std::string Detail(const ReportInput& input, const std::string& pageDirectory, size_t k, const calls::CallFigures& f)
{
    const capture::CaptureReport& r = *input.capture;
    const calls::Call& c = r.calls[k];
    std::string html = "<section class=\"detail\" id=\"call-" + std::to_string(k) + "\" data-call=\"" +
                       std::to_string(k) + "\"><h2>Call " + std::to_string(k + 1) + ": " + Escaped(f.from) +
                       " \u2192 " + Escaped(f.to) + "</h2><p>";
    if (c.signalled)
        html += "Call-ID " + Escaped(r.dialogs[c.dialog].callId) + "; ";
    html += "from " + UtcText(c.start) + " UTC for " + Fixed(f.duration, 2) + " s; " + HtmlEscape(f.outcome) + ".";
    const std::pair<const std::optional<quality::ListeningQuality>*, const char*> sides[] = {
        {&f.callerToCallee, "Heard by the callee"}, {&f.calleeToCaller, "Heard by the caller"}};
    for (const auto& [q, who] : sides)
        if (*q)
            html += std::string(" ") + who + ": MOS " + Fixed((*q)->model.mos, 2) + ", R " + Fixed((*q)->model.r, 1) +
                    ", " + Fixed((*q)->lossPercent, 1) + "% lost after the jitter buffer.";
    html += " Audio: " + AudioLinks(input, pageDirectory, k, kDrawnStreams * 2);
    const std::string cut = SilenceCutText(input, k, 8);
    html += (cut.empty() ? "" : ". " + cut) + "</p>";
    return html + CallCharts(input, k) + "</section>\n";
}

}  // namespace

std::string ReportPage(const ReportInput& input)
{
    const capture::CaptureReport& r = *input.capture;
    const std::string pageDirectory = PageDirectory(input);
    std::vector<calls::CallFigures> figures;
    figures.reserve(r.calls.size());
    for (size_t k = 0; k < r.calls.size(); ++k)
        figures.push_back(calls::FiguresOf(r.calls[k], r.dialogs, r.streams));
    // Worst first: by the lower MOS of the two directions, calls without an
    // estimate last, otherwise in the capture's order.
    std::vector<size_t> order(r.calls.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const auto& x = figures[a].worstMos;
        const auto& y = figures[b].worstMos;
        return x && (!y || *x < *y);
    });
    std::vector<bool> drawn(r.calls.size(), false);
    size_t drawable = 0;
    for (size_t k : order)
        if (!r.calls[k].streams.empty() && drawable < kDrawnCalls) {
            drawn[k] = true;
            ++drawable;
        }

    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Calls in " +
                       Escaped(input.captureName) + "</title><style>" + kStyle + "</style></head><body>\n";
    page += "<h1>Calls in " + Escaped(input.captureName) + "</h1>\n";
    const uint64_t total = r.calls.size() + r.callsNotListed;
    page += "<p class=\"summary\">" + std::to_string(total) + " call" + (total == 1 ? "" : "s") + ", " +
            std::to_string(r.streams.size()) + " G.723.1 stream" + (r.streams.size() == 1 ? "" : "s") +
            ". Worst first, by the lower listening MOS of the two directions (ITU-T G.107 E-model, losses "
            "counted after a 60 ms jitter buffer); rows in red: R below 60, orange: below 70. Loss is "
            "caller \u2192 callee / callee \u2192 caller, in percent; jitter is the largest interarrival "
            "jitter of the call's streams, in ms. All times UTC.</p>\n";
    page +=
        "<table id=\"calls\"><thead><tr><th>#</th><th>Rating</th><th>When</th><th>From</th><th>To</th>"
        "<th>Duration (s)</th><th>Outcome</th><th>MOS caller \u2192 callee</th><th>R</th>"
        "<th>MOS callee \u2192 caller</th><th>R</th><th>Loss %</th><th>Jitter max (ms)</th>"
        "<th>Audio</th></tr></thead><tbody>\n";
    size_t rows = 0;
    for (size_t k : order) {
        if (rows >= kMaxTableRows || page.size() >= kTableBytes)
            break;
        page += Row(input, pageDirectory, k, figures[k], drawn[k]);
        ++rows;
    }
    page += "</tbody></table>\n";
    if (rows < total)
        page += "<p class=\"note\" id=\"rows-left\">" + std::to_string(total - rows) +
                " more calls are not listed here (the best rated, and those that closed after the first " +
                std::to_string(capture::kMaxListedCalls) +
                "); mervox pcap --json-lines lists every call as it is written.</p>\n";

    std::string details;
    size_t shown = 0;
    for (size_t k : order) {
        if (!drawn[k])
            continue;
        std::string d = Detail(input, pageDirectory, k, figures[k]);
        if (page.size() + details.size() + d.size() + kPageEndBytes > kMaxPageBytes)
            break;
        details += d;
        ++shown;
    }
    page += "<p class=\"note\" id=\"drawn\">" +
            (shown == r.calls.size() ? std::string("Every call is drawn below")
                                     : "Drawn below: the " + std::to_string(shown) + " call" + (shown == 1 ? "" : "s") +
                                           " with the lowest MOS, of " + std::to_string(r.calls.size())) +
            ". Each drawing spans the call from its start; a bar or point is one bucket of one second (of 2, 4, "
            "... seconds for streams longer than " +
            std::to_string(quality::kSeriesBuckets / 60) + " minutes).</p>\n";
    page += details;
    page += "<p class=\"note\">Made by mervox pcap.</p></body></html>\n";
    return page;
}

base::Status WriteHtmlReport(const ReportInput& input)
{
    return output::WriteDocument(input.pagePath, ReportPage(input));
}

}  // namespace mervox::media::report
