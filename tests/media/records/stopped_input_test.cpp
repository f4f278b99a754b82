// A capture read from a pipe while signals come, in a child process: a
// stop requested while the reader waits inside a record ends the capture
// cleanly after the records before it (not as damage, the cut record not
// given); a signal that asks for no stop interrupts the wait without losing
// or garbling a byte; a writer that goes away inside a record still leaves
// a truncated capture. After a stop a regular file is still read to its
// end, unless it is to end at a stop too.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "capture_builder.h"
#include "cli_test_support.h"
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

// The capture in a regular file, read after what came through the pipe:
// its records and whether it was stopped, or why it is none.
std::string FromFile(const std::string& path, EndAtStop endAtStop)
{
    std::string error;
    const std::unique_ptr<RecordReader> reader =
        RecordReader::Open(StreamInput(std::fopen(path.c_str(), "rb"), endAtStop), &error);
    if (!reader)
        return error;
    CaptureRecord record;
    int n = 0;
    while (reader->Next(record) == RecordResult::kRecord)
        ++n;
    return std::to_string(n) + (reader->stoppedByRequest() ? " stopped" : "");
}

// Reads the capture on `input`, saying "ready" after two records, then how
// many records it read intact and how the capture ended, then what it
// reads of the capture in `file`.
int Child(int report, int input, bool graceful, const std::string& file)
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
    test::Say(report,
              "file: " + FromFile(file, EndAtStop::kUnlessFile) + ", always: " + FromFile(file, EndAtStop::kAlways));
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
        const char* file;   // and of the file, after it
    } cases[] = {
        {"stop", true, SIGTERM, false, "2 end stopped", "file: 3, always: stopped before the capture began"},
        {"another signal", true, SIGUSR1, true, "3 end", "file: 3, always: 3"},
        {"another signal, no graceful stop", false, SIGUSR1, true, "3 end", "file: 3, always: 3"},
        {"writer gone", true, 0, false, "2 truncated error", "file: 3, always: 3"},
    };
    // A child that ends early fails the case, not the test program.
    void (*const pipeAction)(int) = signal(SIGPIPE, SIG_IGN);
    const Bytes third = Record(3);
    const Bytes head(third.begin(), third.begin() + 100), tail(third.begin() + 100, third.end());
    Bytes whole = capture::test::PcapFileHeader(1);
    for (const Bytes& record : {Record(1), Record(2), third})
        whole.insert(whole.end(), record.begin(), record.end());
    const std::string file = test::ScratchDir() + "/capture.pcap";
    test::WriteFileBytes(file, whole);
    for (const Case& c : cases) {
        int input[2];
        ASSERT_EQ(pipe(input), 0);
        test::ForkedChild child([&](int report) {
            close(input[1]);
            return Child(report, input[0], c.graceful, file);
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
        EXPECT_EQ(child.Line(), c.file) << c.name;
        EXPECT_EQ(child.Wait().status, 0) << c.name;
        if (c.signal != 0 && !c.restWritten)
            close(input[1]);
    }
    signal(SIGPIPE, pipeAction);
}

}  // namespace
}  // namespace mervox::media::records
#endif
