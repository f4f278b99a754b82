// DecoderState's set-up, reset and end of frame.
#include "interface/decoder_state.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "loop_hints.h"
#include "tables/tables.h"

namespace mervox {
namespace {

// Whether no value is an infinity or a NaN (exponent bits all ones): adding
// one to the exponent field then carries into the sign bit. No branch per
// value: a branch that is almost never taken still costs its issue slot and
// a cycle's test, and this check runs at the end of every frame. Eight
// independent flags, so that the compiler checks eight values an
// instruction instead of one after the other.
bool AllFinite(const float* v, int n)
{
    constexpr int kBlock = 8;
    uint32_t flags[kBlock] = {};
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        MERVOX_UNROLL(8)
        for (int j = 0; j < kBlock; ++j) {
            uint32_t bits;
            std::memcpy(&bits, v + i + j, sizeof bits);
            flags[j] |= (bits & 0x7f800000u) + 0x00800000u;
        }
    }
    uint32_t nonFinite = 0;
    for (; i < n; ++i) {
        uint32_t bits;
        std::memcpy(&bits, v + i, sizeof bits);
        nonFinite |= (bits & 0x7f800000u) + 0x00800000u;
    }
    for (uint32_t f : flags)
        nonFinite |= f;
    return (nonFinite & 0x80000000u) == 0;
}

// Almost any bytes unpack to a legal frame, and a run of pitch gains above
// one (or an unstable filter) can grow the signal past the float range. Once
// a history holds an infinity or a NaN, every later sample derives from it
// and the decoder would never produce speech again. Such a state is worth
// nothing, so the whole of it is dropped exactly as INITdec drops it: valid
// frames that follow decode as the start of a new stream, which is the
// quickest way back to speech and the one behaviour a host already knows.
// (Clearing only the non-finite arrays would keep, say, an excitation near
// the float limit driving freshly cleared filters into saturation.) Streams
// that stay finite never get here, so their output is unchanged.
//
// Checked on what the shift keeps, before it moves them (read back right
// after the move, the values would still be on their way to the cache and
// each load would wait for them): the kept excitation holds every sample of
// this frame, and the filters are recursive, so a non-finite value anywhere
// in the frame reaches their last outputs (0 times infinity is NaN too).
bool KeptHistoryIsFinite(const DecoderState& s)
{
    return AllFinite(s.excitation + kFrameLength, kHistoryLength) &&
           AllFinite(s.synthesisMemory + kFrameLength, kLpcOrder) &&
           AllFinite(s.postfilterMemory + kFrameLength, kLpcOrder) && std::isfinite(s.postfilterTilt) &&
           std::isfinite(s.concealGain);
}

}  // namespace

DecoderState::DecoderState() { Reset(); }

void DecoderState::Reset()
{
    erasureCount = 0;
    postfilterTilt = 0.0f;
    noiseSeed = 0;
    concealLag = 0;
    concealGain = 0.0f;
    std::memcpy(prevLsp, LspMeanTable, sizeof prevLsp);
    std::memset(excitation, 0, sizeof excitation);
    std::memset(synthesisMemory, 0, sizeof synthesisMemory);
    std::memset(postfilterMemory, 0, sizeof postfilterMemory);
}

void DecoderState::AdvanceFrame(const float curLsp[kLpcOrder])
{
    const bool finite = KeptHistoryIsFinite(*this);
    std::memmove(excitation, excitation + kFrameLength, kHistoryLength * sizeof(float));
    std::memmove(synthesisMemory, synthesisMemory + kFrameLength, kLpcOrder * sizeof(float));
    std::memmove(postfilterMemory, postfilterMemory + kFrameLength, kLpcOrder * sizeof(float));
    std::memcpy(prevLsp, curLsp, sizeof prevLsp);

    if (!finite)
        Reset();
}

}  // namespace mervox
