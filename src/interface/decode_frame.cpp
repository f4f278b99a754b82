#include <cmath>
#include <cstring>

#include "bitstream/bitstream.h"
#include "concealment/concealment.h"
#include "excitation/excitation.h"
#include "interface/decoder_state.h"
#include "lsp/lsp.h"
#include "postfilter/postfilter.h"
#include "tables/tables.h"

namespace mervox {
namespace {

constexpr int kMaxErasureCount = 3;
constexpr float kVoicedConcealGain = 0.875f;
constexpr double kConcealAttenuation = 0.75;
constexpr int kRmsWindow = 120;  // the last 120 past excitation samples

void BuildGoodExcitation(float* frameExcitation, float pfExcitation[240], const FrameParams& params, int rate)
{
    for (int i = 0; i < kSubframes; ++i) {
        float* x = frameExcitation + kSubframeLength * i;
        const SubframeParams& sub = params.sub[i];
        DecodeAdaptiveCodebook(x, params.openLoopLag[i / 2], sub.lagOffset, sub.gainIndex, rate);
        DecodeFixedCodebook(x, params, rate, i);
    }
    // The pitch postfilter searches the finished, unfiltered excitation of
    // the whole frame (forward lags reach into later subframes).
    for (int i = 0; i < kSubframes; ++i) {
        const float* x = frameExcitation + kSubframeLength * i;
        const PitchPostfilterParams p = ComputePitchPostfilter(x, params.openLoopLag[i / 2], i);
        float* out = pfExcitation + kSubframeLength * i;
        for (int n = 0; n < kSubframeLength; ++n)
            out[n] = static_cast<float>(static_cast<double>(x[n]) * p.scale + static_cast<double>(x[n + p.lag]) * p.gain);
    }
}

float RmsOfRecentExcitation(const float* excitation)
{
    const float* recent = excitation + kHistoryLength - kRmsWindow;
    double energy = 0.0;
    for (int j = 0; j < kRmsWindow; ++j)
        energy += static_cast<double>(recent[j]) * recent[j];
    const float meanSquare = static_cast<float>(energy * (1.0 / kRmsWindow));
    return static_cast<float>(std::sqrt(static_cast<double>(meanSquare)));
}

bool AllFinite(const float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i]))
            return false;
    return true;
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
// Checked after the shift: the kept excitation holds every sample of this
// frame, and the filters are recursive, so a non-finite value anywhere in
// the frame reaches their last outputs (0 times infinity is NaN too).
bool HistoryIsFinite(const DecoderState& s)
{
    return AllFinite(s.excitation, kHistoryLength) && AllFinite(s.synthesisMemory, kLpcOrder)
        && AllFinite(s.postfilterMemory, kLpcOrder) && std::isfinite(s.postfilterTilt)
        && std::isfinite(s.concealGain);
}

}  // namespace

DecoderState::DecoderState()
{
    Reset();
}

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

void DecoderState::DecodeFrame(int16_t output[240], const uint8_t frame[24], int rate, int badFlag)
{
    FrameParams params;
    UnpackFrame(params, frame, rate, badFlag);

    if (params.badFrame)
        erasureCount = erasureCount < kMaxErasureCount ? erasureCount + 1 : kMaxErasureCount;
    else
        erasureCount = 0;

    float curLsp[10];
    DecodeLsp(curLsp, prevLsp, params.lspIndex, params.badFrame);
    float lpc[40];
    InterpolateLsp(lpc, curLsp, prevLsp);

    float* frameExcitation = excitation + kHistoryLength;
    float pfExcitation[kFrameLength];
    if (erasureCount == 0) {
        BuildGoodExcitation(frameExcitation, pfExcitation, params, rate);
    } else {
        if (erasureCount == 1) {
            concealLag = ClassifyLostFrame(excitation + kHistoryLength - kRmsWindow, params.openLoopLag[1]);
            concealGain = concealLag ? kVoicedConcealGain : RmsOfRecentExcitation(excitation);
        } else {
            concealGain = static_cast<float>(concealGain * kConcealAttenuation);
        }
        RegenerateExcitation(frameExcitation, pfExcitation, concealLag, concealGain, erasureCount, noiseSeed);
    }

    SynthesizeAndPostfilter(synthesisMemory, postfilterMemory, pfExcitation, lpc, postfilterTilt);
    ConvertToPcm16(output, postfilterMemory + kLpcOrder);

    std::memmove(excitation, excitation + kFrameLength, kHistoryLength * sizeof(float));
    std::memmove(synthesisMemory, synthesisMemory + kFrameLength, kLpcOrder * sizeof(float));
    std::memmove(postfilterMemory, postfilterMemory + kFrameLength, kLpcOrder * sizeof(float));
    std::memcpy(prevLsp, curLsp, sizeof prevLsp);

    if (!HistoryIsFinite(*this))
        Reset();
}

}  // namespace mervox
