// Invariant checks of the fuzz targets: a violation is reported like a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace mervox::fuzz {

inline void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "mervox fuzz invariant violated: %s\n", what);
        std::abort();
    }
}

}  // namespace mervox::fuzz
