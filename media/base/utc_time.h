// Calendar fields of a capture time, in UTC, the same on every system.
#pragma once

#include <ctime>

namespace mervox::media::base {

// The latest second every system converts: 3000-12-31 23:59:59 UTC
// (Windows' gmtime_s stops there).
constexpr double kLatestUtcSecond = 32535215999.0;

// The fields of the second that holds `seconds` (since 1970, UTC); false
// for times before 1970, after kLatestUtcSecond, or not a number.
bool UtcFields(double seconds, std::tm* fields);

}  // namespace mervox::media::base
