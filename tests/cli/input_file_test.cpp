// Paths the tool derives from its input, and the same-file check that keeps
// an output from replacing its own input.
#include <gtest/gtest.h>
#include <unistd.h>

#include "cli_test_support.h"
#include "input_file.h"

namespace mervox::cli {
namespace {

TEST(InputFile, PathWithoutExtensionStripsOnlyTheLastNamesExtension)
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

TEST(InputFile, SameFileFollowsLinksAndOtherSpellings)
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

}  // namespace
}  // namespace mervox::cli
