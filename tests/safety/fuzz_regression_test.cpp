// Replays every committed fuzz input (seed corpora and inputs that once
// crashed) through the fuzz target bodies in this build, so that each
// compiler configuration and the sanitizer build check them too. A target
// body aborts with a message when an invariant breaks.
#include <gtest/gtest.h>

#include "fuzz_replay.h"
#include "targets.h"

namespace mervox::test {
namespace {

TEST(FuzzInputs, LegacyExports) { ReplayTarget("legacy_exports", fuzz::RunLegacyExports); }
TEST(FuzzInputs, DecoderApi) { ReplayTarget("decoder_api", fuzz::RunDecoderApi); }

TEST(FuzzInputs, EmptyAndTinyInputs)
{
    const uint8_t bytes[3] = {0x01, 0x02, 0xff};
    for (size_t n = 0; n <= sizeof bytes; ++n) {
        fuzz::RunLegacyExports(bytes, n);
        fuzz::RunDecoderApi(bytes, n);
    }
}

}  // namespace
}  // namespace mervox::test
