// Replays the committed fuzz inputs of the command-line tool's readers (see
// fuzz_regression_test.cpp).
#include "fuzz_replay.h"
#include "targets.h"

namespace mervox::test {
namespace {

TEST(ToolFuzzInputs, StreamReader) { ReplayTarget("stream_reader", fuzz::RunStreamReader); }
TEST(ToolFuzzInputs, CaptureReader) { ReplayTarget("capture_reader", fuzz::RunCaptureReader); }
TEST(ToolFuzzInputs, SipReader) { ReplayTarget("sip_reader", fuzz::RunSipReader); }

TEST(ToolFuzzInputs, EmptyAndTinyInputs)
{
    const uint8_t bytes[4] = {0x0a, 0x0d, 0x0d, 0x0a};
    for (size_t n = 0; n <= sizeof bytes; ++n) {
        fuzz::RunStreamReader(bytes, n);
        fuzz::RunCaptureReader(bytes, n);
        fuzz::RunSipReader(bytes, n);
    }
}

}  // namespace
}  // namespace mervox::test
