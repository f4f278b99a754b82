#include "loss.h"

#include <random>

namespace mervox::cli {

std::vector<uint8_t> BuildLossPlan(size_t frames, const std::vector<uint8_t>& mask, double dropRate,
                                   uint64_t seed)
{
    std::vector<uint8_t> lost(frames, 0);
    for (size_t k = 0; k < frames && k < mask.size(); ++k)
        lost[k] = mask[k] != 0;
    if (dropRate > 0.0) {
        // mt19937_64's sequence is fixed by the C++ standard; the
        // distributions are not, so the uniform value is made here.
        std::mt19937_64 generator(seed);
        for (size_t k = 0; k < frames; ++k) {
            const double u = static_cast<double>(generator() >> 11) * 0x1.0p-53;
            if (u < dropRate)
                lost[k] = 1;
        }
    }
    return lost;
}

}  // namespace mervox::cli
