// Replays committed fuzz inputs through a fuzz target body.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace mervox::test {

namespace fs = std::filesystem;

inline size_t ReplayDirectory(const fs::path& dir, int (*target)(const uint8_t*, size_t))
{
    size_t count = 0;
    if (!fs::is_directory(dir))
        return 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // A broken invariant aborts the program: name the input first.
        std::printf("replaying %s\n", entry.path().c_str());
        std::fflush(stdout);
        target(bytes.data(), bytes.size());
        ++count;
    }
    return count;
}

inline void ReplayTarget(const char* name, int (*target)(const uint8_t*, size_t))
{
    const fs::path root = MERVOX_FUZZ_DIR;
    const size_t seeds = ReplayDirectory(root / "corpus" / name, target);
    ReplayDirectory(root / "regressions" / name, target);
    EXPECT_GT(seeds, 0u) << "no seed inputs for " << name;
}

}  // namespace mervox::test
