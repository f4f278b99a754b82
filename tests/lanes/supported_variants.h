// The lane variants this build contains and this processor runs, in
// kAllLaneVariants order (the scalar one always among them).
#pragma once

#include <vector>

#include "postfilter/filter_lanes.h"

namespace mervox {

inline std::vector<LaneVariant> SupportedVariants()
{
    std::vector<LaneVariant> v;
    for (LaneVariant variant : kAllLaneVariants)
        if (LaneVariantSupported(variant))
            v.push_back(variant);
    return v;
}

}  // namespace mervox
