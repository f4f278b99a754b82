#include "base/utc_time.h"

#include <cmath>

namespace mervox::media::base {

bool UtcFields(double seconds, std::tm* fields)
{
    if (!(seconds >= 0 && seconds <= kLatestUtcSecond))
        return false;
    const auto t = static_cast<std::time_t>(std::floor(seconds));
    *fields = std::tm{};
#ifdef _WIN32
    return gmtime_s(fields, &t) == 0;
#else
    return gmtime_r(&t, fields) != nullptr;
#endif
}

}  // namespace mervox::media::base
