// Names: paths the tool derives from its input, how names are shown, which
// paths name descriptors, the same-file check that keeps an output from
// replacing its own input, and the one input probe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/names.h"
#include "cli_test_support.h"
#include "output/pcm_output.h"
#include "platform/paths.h"
#include "stream/input_file.h"

namespace mervox::media::stream {
namespace {

TEST(Names, PathWithoutExtensionStripsOnlyTheLastNamesExtension)
{
    EXPECT_EQ(base::PathWithoutExtension("call.bit"), "call");
    EXPECT_EQ(base::PathWithoutExtension("dir/call.v2.bit"), "dir/call.v2");
    EXPECT_EQ(base::PathWithoutExtension("dir.d/call"), "dir.d/call");
    EXPECT_EQ(base::PathWithoutExtension("call"), "call");
    // A leading dot starts a name, with or without a directory before it.
    EXPECT_EQ(base::PathWithoutExtension(".call"), ".call");
    EXPECT_EQ(base::PathWithoutExtension("dir/.call"), "dir/.call");
    EXPECT_EQ(base::PathWithoutExtension(".call.bit"), ".call");
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
    EXPECT_EQ(base::EscapeControlCharacters("a\nb\tc\x1b[2Jd\x7f\\e"), "a\\nb\\tc\\x1b[2Jd\\x7f\\\\e");
    EXPECT_EQ(base::EscapeControlCharacters("caf\xc3\xa9 \xe9.bit"), "caf\xc3\xa9 \xe9.bit");  // bytes >= 0x80 kept
    EXPECT_EQ(base::DisplayName("-"), "<stdin>");
    EXPECT_EQ(base::DisplayName("-", true), "<stdout>");
    EXPECT_EQ(base::DisplayName("x\ry.bit"), "x\\x0dy.bit");
}

TEST(Names, DescriptorPaths)
{
    EXPECT_EQ(output::DescriptorOfPath("/dev/stdout"), 1);
    EXPECT_EQ(output::DescriptorOfPath("/dev/stderr"), 2);
    EXPECT_EQ(output::DescriptorOfPath("/dev/fd/7"), 7);
    EXPECT_EQ(output::DescriptorOfPath("/proc/self/fd/12"), 12);
    EXPECT_EQ(output::DescriptorOfPath("/proc/" + std::to_string(getpid()) + "/fd/3"), 3);
    EXPECT_EQ(output::DescriptorOfPath("/dev/fd/x"), std::nullopt);
    EXPECT_EQ(output::DescriptorOfPath("/dev/fd/"), std::nullopt);
    EXPECT_EQ(output::DescriptorOfPath("/proc/self/fd/1/x"), std::nullopt);
    EXPECT_EQ(output::DescriptorOfPath("/dev/null"), std::nullopt);
    EXPECT_EQ(output::DescriptorOfPath("dev/stdout"), std::nullopt);
    EXPECT_EQ(output::PcmFormatFromPath("/dev/stdout"), output::PcmFormat::kWav);
}

TEST(Names, SameFileFollowsLinksAndOtherSpellings)
{
    const std::string dir = test::ScratchDir();
    test::WriteFileBytes(dir + "/a.bit", {1, 2, 3});
    test::WriteFileBytes(dir + "/b.bit", {1, 2, 3});
    ASSERT_EQ(symlink((dir + "/a.bit").c_str(), (dir + "/link.bit").c_str()), 0);
    EXPECT_TRUE(output::SameFile(dir + "/a.bit", dir + "/./a.bit"));
    EXPECT_TRUE(output::SameFile(dir + "/link.bit", dir + "/a.bit"));
    EXPECT_FALSE(output::SameFile(dir + "/a.bit", dir + "/b.bit"));  // equal bytes, other file
    EXPECT_FALSE(output::SameFile(dir + "/a.bit", dir + "/absent.wav"));
    EXPECT_FALSE(output::SameFile("-", "-"));
    EXPECT_FALSE(output::SameFile("/dev/null", "/dev/null"));  // a device is read and written, not replaced
}

TEST(InputProbe, OneWordingForEveryFailure)
{
    const std::string dir = test::ScratchDir();
    test::WriteFileBytes(dir + "/one.bin", {7});
    test::WriteFileBytes(dir + "/empty.bin", {});
    EXPECT_TRUE(ProbeInput(dir + "/one.bin", "not a capture").ok());
    EXPECT_TRUE(ProbeInput("-", "not a capture").ok());
    const base::Status empty = ProbeInput(dir + "/empty.bin", "not a capture");
    EXPECT_EQ(empty.message(), dir + "/empty.bin: byte 0: empty input, not a capture");
    EXPECT_EQ(empty.code(), base::kExitBadInput);
    const base::Status folder = ProbeInput(dir, "not a capture");
    EXPECT_EQ(folder.message(), dir + ": byte 0: read failed: Is a directory");
    EXPECT_EQ(folder.systemError(), EISDIR);
    const base::Status missing = ProbeInput(dir + "/none", "x");
    EXPECT_EQ(missing.message(), dir + "/none: cannot open: No such file or directory");
}

}  // namespace
}  // namespace mervox::media::stream
