#include "base/date_fields.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "base/names.h"
#include "base/utc_time.h"

namespace mervox::media::base {
namespace {

bool IsTimeField(char c) { return c == 'Y' || c == 'm' || c == 'd' || c == 'H' || c == 'M' || c == 'S'; }

}  // namespace

Status CheckDateFields(const std::string& pattern)
{
    for (size_t at = pattern.find('%'); at != std::string::npos; at = pattern.find('%', at + 2)) {
        if (at + 1 == pattern.size())
            return Status::Failure(kExitUsage,
                                   DisplayName(pattern) + ": a \"%\" at the end (use %% for a percent sign in a name)");
        const char c = pattern[at + 1];
        if (c != '%' && !IsTimeField(c))
            return Status::Failure(kExitUsage, DisplayName(pattern) + ": unknown date field \"%" +
                                                   EscapeControlCharacters(std::string(1, c)) +
                                                   "\" (the fields are %Y %m %d %H %M %S, and %% for a percent sign)");
    }
    return Status::Ok();
}

bool HasDateFields(const std::string& pattern)
{
    for (size_t at = pattern.find('%'); at != std::string::npos && at + 1 < pattern.size();
         at = pattern.find('%', at + 2))
        if (IsTimeField(pattern[at + 1]))
            return true;
    return false;
}

std::string ExpandDateFields(const std::string& pattern, double seconds)
{
    std::tm utc;
    UtcFields(std::fmax(0, std::fmin(seconds, kLatestUtcSecond)), &utc);
    std::string out;
    out.reserve(pattern.size() + 8);
    for (size_t at = 0; at < pattern.size(); ++at) {
        const char c = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
        if (pattern[at] != '%' || (c != '%' && !IsTimeField(c))) {
            out += pattern[at];
            continue;
        }
        ++at;
        const int value = c == 'Y'   ? utc.tm_year + 1900
                          : c == 'm' ? utc.tm_mon + 1
                          : c == 'd' ? utc.tm_mday
                          : c == 'H' ? utc.tm_hour
                          : c == 'M' ? utc.tm_min
                                     : utc.tm_sec;
        if (c == '%') {
            out += '%';
        } else {
            char digits[8];
            std::snprintf(digits, sizeof digits, c == 'Y' ? "%04d" : "%02d", value);
            out += digits;
        }
    }
    return out;
}

}  // namespace mervox::media::base
