// A capture read from a pipe while signals come, in a child process: a
// stop requested while the reader waits inside a record ends the capture
// cleanly after the records before it (not as damage, the cut record not
// given); a signal that asks for no stop interrupts the wait without losing
// or garbling a byte; a writer that goes away inside a record still leaves
// a truncated capture.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "capture_builder.h"
#include "forked_child.h"
#include "platform/process.h"
#include "records/record_reader.h"

namespace mervox::media::records {
namespace {

using capture::test::Bytes;

// Record k (from 1): 300 bytes of k.
Bytes Record(uint8_t k) { return capture::test::PcapRecord(Bytes(300, k), 1700000000, k); }

const char* ResultName(RecordResult r)
{
    switch (r) {
    case RecordResult::kRecord:
        return "record";
    case RecordResult::kEnd:
        return "end";
    case RecordResult::kTruncated:
        return "truncated";
    case RecordResult::kDamaged:
        return "damaged";
    }
    return "?";
}

void Nothing(int) {}

// Reads the capture on `input`, saying "ready" after two records, then how
// many records it read intact and how the capture ended.
int Child(int report, int input, bool graceful)
{
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        signal(s, SIG_DFL);
    // A handler of the host's, without SA_RESTART: reads see EINTR.
    struct sigaction action {};
    action.sa_handler = &Nothing;
    sigaction(SIGUSR1, &action, nullptr);
    if (graceful)
        platform::InstallGracefulStop();
    std::string error;
    const std::unique_ptr<RecordReader> reader = RecordReader::Open(fdopen(input, "rb"), &error);
    if (!reader) {
        test::Say(report, error);
        return 1;
    }
    CaptureRecord record;
    RecordResult result;
    int intact = 0;
    while ((result = reader->Next(record)) == RecordResult::kRecord) {
        intact += record.data.size == 300 &&
                  Bytes(record.data.data, record.data.data + 300) == Bytes(300, static_cast<uint8_t>(intact + 1));
        if (intact == 2)
            test::Say(report, "ready");
    }
    test::Say(report, std::to_string(intact) + " " + ResultName(result) +
                          (reader->stoppedByRequest() ? " stopped" : "") + (reader->error().empty() ? "" : " error"));
    return 0;
}

void Write(int fd, const Bytes& bytes) { EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

TEST(StoppedInput, AStopEndsTheCaptureCleanlyOtherSignalsLoseNothing)
{
    struct Case {
        const char* name;
        bool graceful;
        int signal;         // sent while the reader waits inside record 3
        bool restWritten;   // then record 3's second half, and the end
        const char* ended;  // what the child says
    } cases[] = {
        {"stop", true, SIGTERM, false, "2 end stopped"},
        {"another signal", true, SIGUSR1, true, "3 end"},
        {"another signal, no graceful stop", false, SIGUSR1, true, "3 end"},
        {"writer gone", true, 0, false, "2 truncated error"},
    };
    // A child that ends early fails the case, not the test program.
    void (*const pipeAction)(int) = signal(SIGPIPE, SIG_IGN);
    const Bytes third = Record(3);
    const Bytes head(third.begin(), third.begin() + 100), tail(third.begin() + 100, third.end());
    for (const Case& c : cases) {
        int input[2];
        ASSERT_EQ(pipe(input), 0);
        test::ForkedChild child([&](int report) {
            close(input[1]);
            return Child(report, input[0], c.graceful);
        });
        close(input[0]);
        Write(input[1], capture::test::PcapFileHeader(1));
        Write(input[1], Record(1));
        Write(input[1], Record(2));
        Write(input[1], head);
        ASSERT_EQ(child.Line(), "ready") << c.name;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (c.signal != 0) {
            child.Signal(c.signal);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (c.restWritten)
            Write(input[1], tail);
        if (c.signal == 0 || c.restWritten)
            close(input[1]);
        EXPECT_EQ(child.Line(), c.ended) << c.name;
        EXPECT_EQ(child.Wait().status, 0) << c.name;
        if (c.signal != 0 && !c.restWritten)
            close(input[1]);
    }
    signal(SIGPIPE, pipeAction);
}

}  // namespace
}  // namespace mervox::media::records
#endif
