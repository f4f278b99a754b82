// Output names with date fields, spelled as strftime spells them, so that a
// recorder that runs for days files its calls by day:
//   ExpandDateFields("calls/%Y/%m/%d/", t) == "calls/2026/12/07/"
// for a capture time t on 7 December 2026, in UTC like the calls' own file
// names. The fields: %Y the year (four digits), %m the month (01-12), %d
// the day (01-31), %H the hour (00-23), %M the minute, %S the second, and
// %% a percent sign. A prefix is checked once, before the capture is read.
#pragma once

#include <string>

#include "base/status.h"

namespace mervox::media::base {

// Ok, or a usage failure (kExitUsage) naming the first "%" that is none of
// the fields above (a "%" at the end included).
Status CheckDateFields(const std::string& pattern);

// Whether the pattern's expansion changes with the time (it has a field
// other than %%).
bool HasDateFields(const std::string& pattern);

// `pattern`, which CheckDateFields accepted, with its fields filled in for
// `seconds` since 1970 (UTC), held within 1970 to kLatestUtcSecond as the
// calls' file names are; anything it would refuse is kept as it is.
std::string ExpandDateFields(const std::string& pattern, double seconds);

}  // namespace mervox::media::base
