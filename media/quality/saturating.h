// Arithmetic on capture times in nanoseconds, which a damaged or hostile
// capture can put anywhere in the 64-bit range: results that would not fit
// are held at the range's ends instead of overflowing. Within the range
// (every real capture) they are the plain results.
#pragma once

#include <cstdint>
#include <limits>

namespace mervox::media::quality {

inline int64_t SaturatingSub(int64_t a, int64_t b)
{
    int64_t r = 0;
    if (!__builtin_sub_overflow(a, b, &r))
        return r;
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

inline int64_t SaturatingMul(int64_t a, int64_t b)
{
    int64_t r = 0;
    if (!__builtin_mul_overflow(a, b, &r))
        return r;
    return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

// A double number of nanoseconds as an integer, held at the range's ends
// (NaN as 0).
inline int64_t SaturatingNs(double ns)
{
    if (!(ns == ns))
        return 0;
    if (ns >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (ns <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(ns);
}

}  // namespace mervox::media::quality
