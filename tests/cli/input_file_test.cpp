// Names: paths the tool derives from its input, how names are shown, which
// paths name descriptors, the same-file check that keeps an output from
// replacing its own input, and the one input probe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "cli_test_support.h"
#include "input_file.h"
#include "names.h"
#include "paths.h"
#include "pcm_output.h"

namespace mervox::tools {
namespace {

TEST(Names, PathWithoutExtensionStripsOnlyTheLastNamesExtension)
{
    EXPECT_EQ(PathWithoutExtension("call.bit"), "call");
    EXPECT_EQ(PathWithoutExtension("dir/call.v2.bit"), "dir/call.v2");
    EXPECT_EQ(PathWithoutExtension("dir.d/call"), "dir.d/call");
    EXPECT_EQ(PathWithoutExtension("call"), "call");
    // A leading dot starts a name, with or without a directory before it.
    EXPECT_EQ(PathWithoutExtension(".call"), ".call");
    EXPECT_EQ(PathWithoutExtension("dir/.call"), "dir/.call");
    EXPECT_EQ(PathWithoutExtension(".call.bit"), ".call");
}

// Splitting at '/' (on Windows also at '\\' and after a drive letter;
// tested under Wine with mervox.exe).
TEST(Names, PathsSplitIntoFolderAndName)
{
    EXPECT_EQ(platform::BaseName("dir/sub/call.bit"), "call.bit");
    EXPECT_EQ(platform::BaseName("call.bit"), "call.bit");
    EXPECT_EQ(platform::BaseName("dir/"), "");
    EXPECT_EQ(platform::DirectoryOf("call.bit"), ".");
    EXPECT_EQ(platform::DirectoryOf("dir/call"), "dir");
    EXPECT_EQ(platform::DirectoryOf("dir//call"), "dir");
    EXPECT_EQ(platform::DirectoryOf("/call"), "/");
    EXPECT_EQ(platform::DirectoryOf("//call"), "/");
    EXPECT_EQ(platform::Join("out", "a.wav"), "out/a.wav");
    EXPECT_EQ(platform::Join("out/", "a.wav"), "out/a.wav");
    EXPECT_TRUE(platform::EndsWithSeparator("out/"));
    EXPECT_FALSE(platform::EndsWithSeparator("out"));
    EXPECT_FALSE(platform::EndsWithSeparator(""));
    // A backslash is part of a name here.
    EXPECT_EQ(platform::BaseName("a\\b.bit"), "a\\b.bit");
}

TEST(Names, ControlCharactersAreEscapedForText)
{
    EXPECT_EQ(EscapeControlCharacters("a\nb\tc\x1b[2Jd\x7f\\e"), "a\\nb\\tc\\x1b[2Jd\\x7f\\\\e");
    EXPECT_EQ(EscapeControlCharacters("caf\xc3\xa9 \xe9.bit"), "caf\xc3\xa9 \xe9.bit");  // bytes >= 0x80 kept
    EXPECT_EQ(DisplayName("-"), "<stdin>");
    EXPECT_EQ(DisplayName("-", true), "<stdout>");
    EXPECT_EQ(DisplayName("x\ry.bit"), "x\\x0dy.bit");
}

TEST(Names, DescriptorPaths)
{
    EXPECT_EQ(DescriptorOfPath("/dev/stdout"), 1);
    EXPECT_EQ(DescriptorOfPath("/dev/stderr"), 2);
    EXPECT_EQ(DescriptorOfPath("/dev/fd/7"), 7);
    EXPECT_EQ(DescriptorOfPath("/proc/self/fd/12"), 12);
    EXPECT_EQ(DescriptorOfPath("/proc/" + std::to_string(getpid()) + "/fd/3"), 3);
    EXPECT_EQ(DescriptorOfPath("/dev/fd/x"), std::nullopt);
    EXPECT_EQ(DescriptorOfPath("/dev/fd/"), std::nullopt);
    EXPECT_EQ(DescriptorOfPath("/proc/self/fd/1/x"), std::nullopt);
    EXPECT_EQ(DescriptorOfPath("/dev/null"), std::nullopt);
    EXPECT_EQ(DescriptorOfPath("dev/stdout"), std::nullopt);
    EXPECT_EQ(PcmFormatFromPath("/dev/stdout"), PcmFormat::kWav);
}

TEST(Names, SameFileFollowsLinksAndOtherSpellings)
{
    const std::string dir = test::ScratchDir();
    test::WriteFileBytes(dir + "/a.bit", {1, 2, 3});
    test::WriteFileBytes(dir + "/b.bit", {1, 2, 3});
    ASSERT_EQ(symlink((dir + "/a.bit").c_str(), (dir + "/link.bit").c_str()), 0);
    EXPECT_TRUE(SameFile(dir + "/a.bit", dir + "/./a.bit"));
    EXPECT_TRUE(SameFile(dir + "/link.bit", dir + "/a.bit"));
    EXPECT_FALSE(SameFile(dir + "/a.bit", dir + "/b.bit"));  // equal bytes, other file
    EXPECT_FALSE(SameFile(dir + "/a.bit", dir + "/absent.wav"));
    EXPECT_FALSE(SameFile("-", "-"));
    EXPECT_FALSE(SameFile("/dev/null", "/dev/null"));  // a device is read and written, not replaced
}

TEST(InputProbe, OneWordingForEveryFailure)
{
    const std::string dir = test::ScratchDir();
    test::WriteFileBytes(dir + "/one.bin", {7});
    test::WriteFileBytes(dir + "/empty.bin", {});
    EXPECT_TRUE(ProbeInput(dir + "/one.bin", "not a capture").ok());
    EXPECT_TRUE(ProbeInput("-", "not a capture").ok());
    const Status empty = ProbeInput(dir + "/empty.bin", "not a capture");
    EXPECT_EQ(empty.message(), dir + "/empty.bin: byte 0: empty input, not a capture");
    EXPECT_EQ(empty.code(), kExitBadInput);
    const Status folder = ProbeInput(dir, "not a capture");
    EXPECT_EQ(folder.message(), dir + ": byte 0: read failed: Is a directory");
    EXPECT_EQ(folder.systemError(), EISDIR);
    const Status missing = ProbeInput(dir + "/none", "x");
    EXPECT_EQ(missing.message(), dir + "/none: cannot open: No such file or directory");
}

}  // namespace
}  // namespace mervox::tools
