// Following a ring buffer: its file names, the files handed over in order
// once closed (the newest only at the stop), the files the ring removed
// before they were read counted and said, a new run of dumpcap read after
// the old one, the ring chosen among several; and a real dumpcap ring on
// the loopback interface read whole while it is written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "loopback_capture.h"
#include "records/record_reader.h"
#include "records/ring_follower.h"

namespace mervox::media::records {
namespace {

TEST(RingFileName, DumpcapsNamesAndNoOthers)
{
    const struct {
        const char* name;
        const char* ring;  // nullptr: not a ring file
        uint64_t number;
    } cases[] = {
        {"calls_00001_20261207101500.pcapng", "calls.pcapng", 1},
        {"my_calls.v2_00012_20261207101500.pcapng", "my_calls.v2.pcapng", 12},
        {"calls_123456_20261207101500", "calls", 123456},
        {"calls_20261207101500_00003.pcapng", "calls.pcapng", 3},  // dumpcap 4.2's time first
        {"calls.pcapng", nullptr, 0},
        {"calls_0001_20261207101500.pcapng", nullptr, 0},   // four digits
        {"calls_00001_2026120710150.pcapng", nullptr, 0},   // thirteen
        {"calls_00001_2026120710150x.pcapng", nullptr, 0},  // not a time
        {"calls_00001_20261207101500.pcapng.part", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<RingFileName> parsed = ParseRingFileName(c.name);
        ASSERT_EQ(parsed.has_value(), c.ring != nullptr);
        if (parsed) {
            EXPECT_EQ(parsed->ring, c.ring);
            EXPECT_EQ(parsed->number, c.number);
        }
    }
}

class RingFollowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = ::testing::TempDir() + "mervox-ring-" + info->name() + "-" + std::to_string(getpid());
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // A ring file whose content is its own name.
    void Make(const std::string& name) { std::ofstream(dir_ + "/" + name) << name; }
    void Remove(const std::string& name) { std::remove((dir_ + "/" + name).c_str()); }

    // Follows until stopped: the stop check runs `steps` one a call (the
    // capture going on while the follower waits), then says stop. Each
    // file handed over as "content" or "content (growing)".
    std::vector<std::string> Follow(RingOptions options, std::vector<std::function<void()>> steps)
    {
        size_t step = 0;
        options.directory = dir_;
        options.poll = std::chrono::milliseconds(1);
        options.stop = [&] { return step == steps.size() || (steps[step++](), false); };
        options.note = [this](const std::string& text) { notes_ += text + "\n"; };
        RingFollower f(options);
        std::vector<std::string> handed;
        RingFile file;
        RingResult r;
        while ((r = f.Next(file)) == RingResult::kFile) {
            char content[128];
            const size_t n = file.input->Read(content, sizeof content);
            handed.push_back(std::string(content, n) + (file.growing ? " (growing)" : ""));
        }
        EXPECT_EQ(r, RingResult::kStopped) << f.error();
        lost_ = f.filesLost();
        return handed;
    }

    std::string dir_;
    std::string notes_;
    uint64_t lost_ = 0;
};

TEST_F(RingFollowerTest, ClosedFilesInOrderLossesSaidNewRunAfterTheOldNewestAtTheStop)
{
    const auto name = [](int number, const char* time) {
        char text[64];
        std::snprintf(text, sizeof text, "calls_%05d_%s.pcapng", number, time);
        return std::string(text);
    };
    for (int n : {3, 1, 2})
        Make(name(n, "20261207100000"));
    Make("calls.pcapng");  // not of the ring
    const std::vector<std::string> handed =
        Follow({}, {// The reader fell behind: the ring removed file 3 before it was read.
                    [&] {
                        Remove(name(3, "20261207100000"));
                        for (int n : {4, 5, 6})
                            Make(name(n, "20261207100100"));
                    },
                    // dumpcap started again: numbers from 1, later times; its file 1 removed already.
                    [&] {
                        Make(name(2, "20261207110000"));
                        Make(name(3, "20261207110001"));
                    }});
    const std::vector<std::string> expected = {name(1, "20261207100000"),
                                               name(2, "20261207100000"),
                                               name(4, "20261207100100"),
                                               name(5, "20261207100100"),
                                               name(6, "20261207100100"),
                                               name(2, "20261207110000"),
                                               name(3, "20261207110001") + " (growing)"};
    EXPECT_EQ(handed, expected);
    EXPECT_EQ(lost_, 2u);
    EXPECT_NE(notes_.find("ring file 3 of calls.pcapng was removed before it could be read: the reader fell behind"),
              std::string::npos)
        << notes_;
    EXPECT_NE(notes_.find("calls.pcapng numbered from 2 again: dumpcap was started again"), std::string::npos)
        << notes_;
    EXPECT_NE(notes_.find("ring file 1 of its new run was removed"), std::string::npos) << notes_;
}

TEST_F(RingFollowerTest, TheRingOfTheOldestFileUnlessNamed)
{
    Make("other_00001_20261207090000.pcapng");
    Make("other_00002_20261207090000.pcapng");
    Make("calls_00007_20261207100000.pcapng");
    Make("calls_00008_20261207100000.pcapng");
    EXPECT_EQ(Follow({}, {}), (std::vector<std::string>{"other_00001_20261207090000.pcapng",
                                                        "other_00002_20261207090000.pcapng (growing)"}));
    EXPECT_NE(notes_.find("several ring buffers here; following other.pcapng (its file is the oldest), not "
                          "calls.pcapng"),
              std::string::npos)
        << notes_;
    for (const char* ring : {"calls", "calls.pcapng"}) {
        notes_.clear();
        RingOptions options;
        options.ring = ring;
        EXPECT_EQ(Follow(options, {}), (std::vector<std::string>{"calls_00007_20261207100000.pcapng",
                                                                 "calls_00008_20261207100000.pcapng (growing)"}));
        EXPECT_EQ(notes_, "");
        EXPECT_EQ(lost_, 0u) << "the files before the follower started are not its losses";
    }
}

// dumpcap writes a ring of small files while UDP traffic runs on the
// loopback interface; the follower reads each as it is closed, the last
// when dumpcap has ended. Every packet dumpcap captured is read, none lost.
TEST_F(RingFollowerTest, ARealDumpcapRingReadWhole)
{
    MERVOX_NEED_LOOPBACK_CAPTURE(dir_);
    Remove("probe.pcapng");
    std::atomic<bool> ended{false};
    std::string dumpcapSaid;
    int status = -1;
    std::thread capture;
    {
        test::LoopbackTraffic traffic;
        capture = std::thread([&] {
            dumpcapSaid = test::RunShell(
                "dumpcap -i lo -a duration:3 -b filesize:200 -b files:10 -w '" + dir_ + "/ring.pcapng'", &status);
            ended = true;
        });
        RingOptions options;
        options.directory = dir_;
        options.poll = std::chrono::milliseconds(10);
        options.stop = [&] { return ended.load(); };
        options.note = [this](const std::string& text) { notes_ += text + "\n"; };
        RingFollower follower(options);
        RingFile file;
        uint64_t expectedNumber = 1, records = 0;
        while (follower.Next(file) == RingResult::kFile) {
            EXPECT_EQ(file.number, expectedNumber++);
            std::string error;
            const auto reader = RecordReader::Open(std::move(file.input), &error);
            if (!reader) {
                ADD_FAILURE() << file.path << ": " << error;
                continue;
            }
            CaptureRecord record;
            RecordResult r;
            while ((r = reader->Next(record)) == RecordResult::kRecord)
                ++records;
            EXPECT_EQ(r, RecordResult::kEnd) << file.path << ": " << reader->error();
        }
        EXPECT_TRUE(file.growing) << "the last file is handed over at the stop";
        EXPECT_EQ(follower.filesLost(), 0u) << notes_;
        EXPECT_EQ(follower.ring(), "ring.pcapng");
        EXPECT_GT(expectedNumber, 11u) << "the ring did not wrap: " << dumpcapSaid;
        capture.join();
        ASSERT_EQ(status, 0) << dumpcapSaid;
        std::smatch captured;
        ASSERT_TRUE(std::regex_search(dumpcapSaid, captured, std::regex("Packets captured: ([0-9]+)"))) << dumpcapSaid;
        EXPECT_EQ(records, std::stoull(captured[1])) << dumpcapSaid;
    }
}

}  // namespace
}  // namespace mervox::media::records
