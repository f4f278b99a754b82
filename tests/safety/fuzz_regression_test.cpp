// Replays every committed fuzz input (seed corpora and inputs that once
// crashed) through the fuzz target bodies in this build, so that each
// compiler configuration and the sanitizer build check them too. A target
// body aborts with a message when an invariant breaks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "targets.h"

namespace mervox::test {
namespace {

namespace fs = std::filesystem;

size_t ReplayDirectory(const fs::path& dir, int (*target)(const uint8_t*, size_t))
{
    size_t count = 0;
    if (!fs::is_directory(dir))
        return 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        SCOPED_TRACE(entry.path().string());
        target(bytes.data(), bytes.size());
        ++count;
    }
    return count;
}

void ReplayTarget(const char* name, int (*target)(const uint8_t*, size_t))
{
    const fs::path root = MERVOX_FUZZ_DIR;
    const size_t seeds = ReplayDirectory(root / "corpus" / name, target);
    ReplayDirectory(root / "regressions" / name, target);
    EXPECT_GT(seeds, 0u) << "no seed inputs for " << name;
}

TEST(FuzzInputs, LegacyExports) { ReplayTarget("legacy_exports", fuzz::RunLegacyExports); }

TEST(FuzzInputs, EmptyAndTinyInputs)
{
    const uint8_t bytes[3] = {0x01, 0x02, 0xff};
    for (size_t n = 0; n <= sizeof bytes; ++n)
        fuzz::RunLegacyExports(bytes, n);
}

}  // namespace
}  // namespace mervox::test
