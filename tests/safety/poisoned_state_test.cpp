// Whatever puts an infinity or a NaN into the decoder's memory (an overflow,
// an unstable filter), it must be gone after the frame that reads it: the
// following frames decode exactly like a new stream.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "hostile_streams.h"

namespace mervox::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Poison {
    const char* name;
    std::function<void(DecoderState&)> apply;
    bool lostFrameReadsIt;  // else a good frame is decoded on the poisoned state
};

void PrintTo(const Poison& p, std::ostream* os) { *os << p.name; }

const Poison kPoisons[] = {
    {"ExcitationAllNaN",
     [](DecoderState& s) {
         for (float& v : s.excitation)
             v = kNaN;
     },
     false},
    {"NewestExcitationInf",
     [](DecoderState& s) {
         for (int i = 200; i < kHistoryLength; ++i)
             s.excitation[i] = kInf;
     },
     false},
    {"SynthesisMemoryNaN", [](DecoderState& s) { s.synthesisMemory[kLpcOrder - 1] = kNaN; }, false},
    {"PostfilterMemoryMinusInf", [](DecoderState& s) { s.postfilterMemory[kLpcOrder - 1] = -kInf; }, false},
    {"TiltNaN", [](DecoderState& s) { s.postfilterTilt = kNaN; }, false},
    {"ExcitationNaNConcealed",
     [](DecoderState& s) {
         for (float& v : s.excitation)
             v = kNaN;
     },
     true},
    {"SynthesisMemoryInfConcealed", [](DecoderState& s) { s.synthesisMemory[kLpcOrder - 1] = kInf; }, true},
};

class PoisonedState : public ::testing::TestWithParam<Poison> {};

TEST_P(PoisonedState, ClearedAfterOneFrameThenDecodesLikeANewStream)
{
    const std::vector<uint8_t> speech = CorpusFrames53(300, 100);
    const std::vector<uint8_t> before(speech.begin(), speech.begin() + 50 * 20);
    const std::vector<uint8_t> poisonedFrame(speech.begin() + 50 * 20, speech.begin() + 51 * 20);
    const std::vector<uint8_t> after(speech.begin() + 51 * 20, speech.end());

    Channel channel;
    ResetChannel(channel, 1);
    DecodeFrames(channel, before);
    GetParam().apply(channel.state);
    int16_t out[kFrameLength];
    DecodeChannelFrame(channel, GetParam().lostFrameReadsIt ? nullptr : poisonedFrame.data(), out);
    EXPECT_TRUE(StateIsFresh(channel.state));

    Channel fresh;
    ResetChannel(fresh, 1);
    EXPECT_TRUE(DecodeFrames(channel, after) == DecodeFrames(fresh, after));
}

INSTANTIATE_TEST_SUITE_P(Poisons, PoisonedState, ::testing::ValuesIn(kPoisons),
                         [](const ::testing::TestParamInfo<Poison>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace mervox::test
