#include "tables/tables.h"

namespace mervox {

const float LspInterpolationWeights[4] = {0.25f, 0.5f, 0.75f, 1.0f};

// 0.135^k written out exactly; each literal is the float nearest to it.
const float FormantWeightTable[7] = {
    1.0f, 0.135f, 0.018225f, 0.002460375f, 0.000332150625f, 0.000044840334375f, 0.000006053445140625f,
};

}  // namespace mervox
