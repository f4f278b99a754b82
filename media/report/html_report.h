// The calls of a capture as one self-contained HTML page: a table of every
// call, worst first, and for the worst of them a drawing over time of both
// directions (speech, silence and concealed losses; loudness; jitter and
// lost packets). Everything is inline (CSS and SVG, no script, nothing
// fetched); every string from the capture is escaped. Numbers are those of
// `mervox pcap --json`, formatted from the same values.
//
// Size: the table lists up to kMaxTableRows calls, and the drawings go to
// the kDrawnCalls calls with the lowest MOS; the page says what it left
// out. No page exceeds kMaxPageBytes, whatever the capture.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "capture/capture.h"
#include "quality/stream_series.h"
#include "signalling/sip_dialogs.h"

namespace mervox::media::report {

constexpr size_t kMaxTableRows = signalling::kMaxDialogs;  // as many as the SIP reader keeps calls
constexpr size_t kDrawnCalls = 50;
constexpr size_t kMaxPageBytes = 24u << 20;

struct ReportInput {
    std::string captureName;  // as shown to the user
    const capture::CaptureReport* capture = nullptr;
    // Where the page goes, and the directory relative paths start from
    // (empty: the current one): the links to the audio are relative to
    // the page's directory.
    std::string pagePath;
    std::string workingDirectory;
    // The audio files of call k (an index into capture->calls), as written.
    std::function<std::vector<std::string>(size_t call)> audioFiles;
    // The silence cut out of call k's recording (more than 60 s without
    // audio): seconds into the recording and seconds cut, per cut (null: none).
    std::function<std::vector<std::pair<double, double>>(size_t call)> silenceCuts;
    // A stream's decoded loudness over time (null: none).
    std::function<const quality::StreamSeries*(size_t stream)> loudness;
};

std::string ReportPage(const ReportInput& input);

// The page, to input.pagePath (complete or absent).
base::Status WriteHtmlReport(const ReportInput& input);

}  // namespace mervox::media::report
