// Output names filed by date: the fields filled in at a capture time (UTC,
// held within the range the call names use), prefixes refused before a
// capture is read, and the folders made as `mkdir -p` makes them.
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

TEST(DateFields, FilledInAtTheCaptureTimeInUtcOrRefused)
{
    // Times as `date -u -d @SECONDS` prints them: "changes" is HasDateFields.
    const struct {
        const char* pattern;
        double seconds;
        const char* expanded;
        bool changes;
    } cases[] = {
        {"calls/%Y/%m/%d/", 1700000000.9, "calls/2023/11/14/", true},  // Tue Nov 14 22:13:20 UTC 2023
        {"%H%M%S-%%-%Y", 1700000000, "221320-%-2023", true},
        {"leap/%Y-%m-%d_%H", 1709164800, "leap/2024-02-29_00", true},  // Thu Feb 29 00:00:00 UTC 2024
        {"%Y/%m/%d %H:%M:%S", -5, "1970/01/01 00:00:00", true},        // before 1970: its start
        {"%%Y/100%%", 1700000000, "%Y/100%", false},
        {"calls/", 1700000000, "calls/", false},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(CheckDateFields(c.pattern).ok()) << c.pattern;
        EXPECT_EQ(ExpandDateFields(c.pattern, c.seconds), c.expanded);
        EXPECT_EQ(HasDateFields(c.pattern), c.changes) << c.pattern;
    }
    const std::pair<const char*, const char*> refused[] = {{"calls/%F/", "unknown date field \"%F\""},
                                                           {"%%%j", "unknown date field \"%j\""},
                                                           {"calls/%Y%", "a \"%\" at the end"},
                                                           {"%\n", "unknown date field \"%\\n\""}};
    for (const auto& [pattern, said] : refused) {
        const Status s = CheckDateFields(pattern);
        EXPECT_EQ(s.code(), kExitUsage);
        EXPECT_NE(s.message().find(said), std::string::npos) << s.message();
    }
}

TEST(MakeDirectories, MakesWhatIsMissingAndNamesWhatIsInTheWay)
{
    const std::string dir = ::testing::TempDir() + "mervox-make-directories-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    // Made; made again; beside it, with doubled separators: what is there stays.
    for (const char* path : {"/calls/2026/12/07/", "/calls/2026/12/07", "//calls/2026//12/08"})
        EXPECT_TRUE(MakeDirectories(dir + path).ok()) << path;
    EXPECT_TRUE(platform::IsDirectory(dir + "/calls/2026/12/07") && platform::IsDirectory(dir + "/calls/2026/12/08"));
    std::ofstream(dir + "/calls/2027").put('x');
    const Status s = MakeDirectories(dir + "/calls/2027/01/01/");
    EXPECT_EQ(s.code(), kExitOutputError);
    EXPECT_EQ(s.message(), dir + "/calls/2027: cannot create the directory: Not a directory");
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace mervox::media::base
