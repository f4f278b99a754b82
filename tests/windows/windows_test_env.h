// Where the cross-built DLLs and host programs are, and how the tests run
// them: Wine with a prefix of its own in the build tree (one per width), and
// the mingw-w64 objdump for the PE tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace mervox::windows_test {

// Under CI (CI=true) the toolchain and Wine are required: a missing one
// fails the test instead of skipping it.
bool RunningUnderCi();

// The two builds: 32-bit (i686) and 64-bit (x86-64) Windows.
enum class Width { k32, k64 };
inline void PrintTo(Width width, std::ostream* os) { *os << (width == Width::k64 ? "64-bit" : "32-bit"); }

// Empty when the tools are there; otherwise what is missing.
std::string MissingForDll(Width width = Width::k32);
std::string MissingForWine(Width width = Width::k32);

// Skips (or, under CI, fails) the calling test when `missing` is not empty.
#define MERVOX_REQUIRE_TOOLS(missing)                                               \
    do {                                                                            \
        const std::string mervoxMissing = (missing);                                \
        if (!mervoxMissing.empty()) {                                               \
            if (::mervox::windows_test::RunningUnderCi())                           \
                FAIL() << "CI=true, and missing: " << mervoxMissing;                \
            GTEST_SKIP() << "Windows DLL test skipped, missing: " << mervoxMissing; \
        }                                                                           \
    } while (0)

// Cross-built files: mervox.dll, mervox-api.dll, mervox_host.exe,
// mervox_linked_host.exe, mervox_api_host.exe.
std::string WindowsBinary(const std::string& name, Width width = Width::k32);

// The mingw-w64 objdump for that width.
std::string Objdump(Width width);

// A scratch file for this test run (outputs, masks).
std::string WorkFile(const std::string& name);

// Exit status and everything a command printed.
struct CommandResult {
    int status;
    std::string output;
};

// Runs a shell command line; arguments must already be quoted (Quote).
CommandResult RunCommand(const std::string& commandLine);
std::string Quote(const std::string& argument);

// A Unix path as a Windows program under Wine sees it (drive Z: is /).
std::string WinePath(const std::string& unixPath);

// Runs a Windows program under Wine in the test prefix of its width, with
// the environment variables `environment` ("NAME=value") added.
CommandResult RunUnderWine(const std::string& program, const std::vector<std::string>& arguments,
                           Width width = Width::k32, const std::vector<std::string>& environment = {});

// The test prefix; created by the WinePrefix (Wine64Prefix) test.
std::string WinePrefixDir(Width width = Width::k32);

// Samples of a raw s16le file.
std::vector<int16_t> ReadPcm(const std::string& path);

// The corpus streams (tests/data/corpus, with their loss masks where the
// name ends in .loss) and their recorded digests.
struct CorpusCase {
    std::string name;
    size_t frames;
    std::string digest;
};
void PrintTo(const CorpusCase& c, std::ostream* os);
std::vector<CorpusCase> CorpusCases();
// A test name's characters from a corpus name.
std::string CorpusTestName(const std::string& name);

// The FNV-1a 64 digest of samples as the digest file writes it.
std::string Digest(const std::vector<int16_t>& samples);

}  // namespace mervox::windows_test
