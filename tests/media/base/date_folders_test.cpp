// Output names filed by date: the fields filled in at a capture time (in
// UTC, held within the range the call names use), the prefixes refused
// before a capture is read, and the folders made as `mkdir -p` makes them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "base/date_fields.h"
#include "base/make_directories.h"
#include "platform/files.h"

namespace mervox::media::base {
namespace {

TEST(DateFields, FilledInAtTheCaptureTimeInUtc)
{
    // Times and dates as `date -u -d @SECONDS` prints them.
    const struct {
        const char* pattern;
        double seconds;
        const char* expanded;
        bool changesWithTime;
    } cases[] = {
        {"calls/%Y/%m/%d/", 1700000000.9, "calls/2023/11/14/", true},  // Tue Nov 14 22:13:20 UTC 2023
        {"%H%M%S-%%-%Y", 1700000000, "221320-%-2023", true},
        {"leap/%Y-%m-%d_%H", 1709164800, "leap/2024-02-29_00", true},  // Thu Feb 29 00:00:00 UTC 2024
        {"%Y/%m/%d %H:%M:%S", -5, "1970/01/01 00:00:00", true},        // before 1970: held at its start
        {"%%Y/100%%", 1700000000, "%Y/100%", false},
        {"calls/", 1700000000, "calls/", false},
        {"", 1700000000, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_TRUE(CheckDateFields(c.pattern).ok());
        EXPECT_EQ(ExpandDateFields(c.pattern, c.seconds), c.expanded);
        EXPECT_EQ(HasDateFields(c.pattern), c.changesWithTime);
    }
}

TEST(DateFields, AnythingElseAfterAPercentSignIsRefused)
{
    const struct {
        const char* pattern;
        const char* said;
    } cases[] = {
        {"calls/%F/", "unknown date field \"%F\""}, {"calls/%y/", "unknown date field \"%y\""},
        {"%%%j", "unknown date field \"%j\""},      {"calls/%Y%", "a \"%\" at the end"},
        {"%\n", "unknown date field \"%\\n\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        const Status s = CheckDateFields(c.pattern);
        EXPECT_EQ(s.code(), kExitUsage);
        EXPECT_NE(s.message().find(c.said), std::string::npos) << s.message();
    }
}

TEST(MakeDirectories, MakesWhatIsMissingAndNamesWhatIsInTheWay)
{
    const std::string dir = ::testing::TempDir() + "mervox-make-directories-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);

    EXPECT_TRUE(MakeDirectories(dir + "/calls/2026/12/07/").ok());
    EXPECT_TRUE(platform::IsDirectory(dir + "/calls/2026/12/07"));
    // Again, and beside it, with doubled separators: what is there stays.
    EXPECT_TRUE(MakeDirectories(dir + "/calls/2026/12/07").ok());
    EXPECT_TRUE(MakeDirectories(dir + "//calls/2026//12/08").ok());
    EXPECT_TRUE(platform::IsDirectory(dir + "/calls/2026/12/08"));

    std::ofstream(dir + "/calls/2027").put('x');
    const Status s = MakeDirectories(dir + "/calls/2027/01/01/");
    EXPECT_EQ(s.code(), kExitOutputError);
    EXPECT_EQ(s.message(), dir + "/calls/2027: cannot create the directory: Not a directory");
    EXPECT_FALSE(platform::Exists(dir + "/calls/2027/01"));
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::base
