// The drawings of one call over time, both directions on one time axis
// from the call's start: the timeline (speech, silence, concealed losses),
// each channel's loudness, the interarrival jitter and the packets lost.
#pragma once

#include <cstddef>
#include <string>

#include "report/html_report.h"

namespace mervox::media::report {

// Streams drawn per direction (a direction with more says so).
constexpr size_t kDrawnStreams = 8;

// The charts of call `call` as inline SVG with their captions.
std::string CallCharts(const ReportInput& input, size_t call);

}  // namespace mervox::media::report
