// Where the cross-built DLL and host programs are, and how the tests run
// them: Wine with a prefix of its own in the build tree, and the mingw-w64
// objdump for the PE tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mervox::windows_test {

// Under CI (CI=true) the toolchain and Wine are required: a missing one
// fails the test instead of skipping it.
bool RunningUnderCi();

// Empty when the tools are there; otherwise what is missing.
std::string MissingForDll();
std::string MissingForWine();

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

// Cross-built files: mervox.dll, mervox_host.exe, mervox_linked_host.exe.
std::string WindowsBinary(const std::string& name);

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

// Runs a Windows program under Wine in the test prefix.
CommandResult RunUnderWine(const std::string& program, const std::vector<std::string>& arguments);

// The test prefix; created by the WinePrefix test.
std::string WinePrefixDir();

// Samples of a raw s16le file.
std::vector<int16_t> ReadPcm(const std::string& path);

}  // namespace mervox::windows_test
