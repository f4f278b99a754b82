// Following a ring buffer: dumpcap's file names, the files handed over in
// order once closed (the newest only at the stop), files the ring removed
// unread counted and said, a new run of dumpcap read after the old one,
// the ring chosen among several; and a real dumpcap ring on the loopback
// interface read whole while it is written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
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
    const auto parsed = [](const char* name) {
        const std::optional<RingFileName> p = ParseRingFileName(name);
        return p ? p->ring + " " + std::to_string(p->number) : "-";
    };
    EXPECT_EQ(parsed("my_calls.v2_00012_20261207101500.pcapng"), "my_calls.v2.pcapng 12");
    EXPECT_EQ(parsed("calls_123456_20261207101500"), "calls 123456");
    EXPECT_EQ(parsed("calls_20261207101500_00003.pcapng"), "calls.pcapng 3");  // dumpcap 4.2: time first
    for (const char* other : {"calls.pcapng", "calls_0001_20261207101500.pcapng", "calls_00001_2026120710150.pcapng",
                              "calls_00001_20261207101500.pcapng.part"})
        EXPECT_EQ(parsed(other), "-") << other;
}

class RingFollowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "mervox-ring-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    static std::string Name(const char* ring, int number, const char* time)
    {
        return std::string(ring) + "_" + std::string(5 - std::to_string(number).size(), '0') + std::to_string(number) +
               "_" + time + ".pcapng";
    }
    void Make(const std::string& name) { std::ofstream(dir_ + "/" + name) << name; }  // its name inside
    void Remove(const std::string& name) { std::remove((dir_ + "/" + name).c_str()); }

    // The files handed over until stopped ("name" or "name (growing)"):
    // each time the follower waits, the next step runs (the capture goes
    // on), and when there is none left it is told to stop.
    std::vector<std::string> Follow(const std::string& ring, std::vector<std::function<void()>> steps)
    {
        size_t step = 0;
        RingOptions options{dir_, ring, std::chrono::milliseconds(1),
                            [&] { return step == steps.size() || (steps[step++](), false); },
                            [this](const std::string& text) { notes_ += text + "\n"; }};
        RingFollower follower(options);
        std::vector<std::string> handed;
        RingFile file;
        while (follower.Next(file) == RingResult::kFile) {
            char content[128];
            handed.push_back(std::string(content, file.input->Read(content, sizeof content)) +
                             (file.growing ? " (growing)" : ""));
        }
        EXPECT_EQ(follower.error(), "");
        lost_ = follower.filesLost();
        return handed;
    }

    std::string dir_, notes_;
    uint64_t lost_ = 0;
};

TEST_F(RingFollowerTest, ClosedFilesInOrderLossesSaidNewRunAfterTheOldNewestAtTheStop)
{
    for (int n : {3, 1, 2})
        Make(Name("calls", n, "20261207100000"));
    Make("calls.pcapng");                                           // not of the ring
    Make(Name("other", 1, "20261207090000"));                       // another ring, older
    const std::vector<std::string> handed = Follow("calls", {[&] {  // the ring removed file 3 before it was read
                                                                 Remove(Name("calls", 3, "20261207100000"));
                                                                 for (int n : {4, 5})
                                                                     Make(Name("calls", n, "20261207100100"));
                                                             },
                                                             [&] {  // dumpcap started again; its file 1 removed already
                                                                 Make(Name("calls", 2, "20261207110000"));
                                                                 Make(Name("calls", 3, "20261207110001"));
                                                             }});
    EXPECT_EQ(handed, (std::vector<std::string>{Name("calls", 1, "20261207100000"), Name("calls", 2, "20261207100000"),
                                                Name("calls", 4, "20261207100100"), Name("calls", 5, "20261207100100"),
                                                Name("calls", 2, "20261207110000"),
                                                Name("calls", 3, "20261207110001") + " (growing)"}));
    EXPECT_EQ(lost_, 2u);
    for (const char* said :
         {"ring file 3 of calls.pcapng was removed before it could be read: the reader fell behind",
          "calls.pcapng numbered from 2 again: dumpcap was started again", "ring file 1 of its new run was removed"})
        EXPECT_NE(notes_.find(said), std::string::npos) << notes_;

    // No ring named: the one of the oldest file, and that said.
    notes_.clear();
    EXPECT_EQ(Follow("", {}), std::vector<std::string>{Name("other", 1, "20261207090000") + " (growing)"});
    EXPECT_NE(notes_.find("several ring buffers here; following other.pcapng (its file is the oldest), not "
                          "calls.pcapng"),
              std::string::npos)
        << notes_;
}

// dumpcap writes a ring of small files while UDP traffic runs on the
// loopback interface; each is read as it is closed, the last when dumpcap
// has ended: every packet dumpcap captured, none lost, though the ring wrapped.
TEST_F(RingFollowerTest, ARealDumpcapRingReadWhole)
{
    MERVOX_NEED_LOOPBACK_CAPTURE(dir_);
    std::atomic<bool> ended{false};
    std::string said;
    int status = -1;
    test::LoopbackTraffic traffic;
    std::thread dumpcap([&] {
        said = test::RunShell(
            "dumpcap -i lo -a duration:3 -b filesize:200 -b files:10 -w '" + dir_ + "/ring.pcapng' 2>&1", &status);
        ended = true;
    });
    RingFollower follower({dir_, "", std::chrono::milliseconds(10), [&] { return ended.load(); }, {}});
    RingFile file;
    uint64_t number = 0, records = 0;
    while (follower.Next(file) == RingResult::kFile) {
        EXPECT_EQ(file.number, ++number);
        std::string error;
        const auto reader = RecordReader::Open(std::move(file.input), &error);
        CaptureRecord record;
        while (reader && reader->Next(record) == RecordResult::kRecord)
            ++records;
        EXPECT_TRUE(reader && reader->error().empty()) << file.path << ": " << error;
    }
    dumpcap.join();
    EXPECT_TRUE(file.growing);
    EXPECT_EQ(follower.filesLost(), 0u);
    EXPECT_GT(number, 10u) << "the ring did not wrap: " << said;
    const size_t captured = said.find("Packets captured: ");
    ASSERT_TRUE(status == 0 && captured != std::string::npos) << said;
    EXPECT_EQ(records, std::stoull(said.substr(captured + 18))) << said;
}

}  // namespace
}  // namespace mervox::media::records
