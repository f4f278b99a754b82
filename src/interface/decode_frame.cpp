// The frame decoding sequence: one frame, or the all-zero frame that stands
// for a lost one, through every stage in their fixed order.
#include "bitstream/bitstream.h"
#include "concealment/concealment.h"
#include "excitation/excitation.h"
#include "interface/decoder_state.h"
#include "lsp/lsp.h"
#include "postfilter/postfilter.h"

namespace mervox {

void DecoderState::BeginFrame(FrameWork& work, const uint8_t frame[kMaxFrameBytes], int rate, int badFlag, bool lpcSets,
                              LaneVariant pitchVariant)
{
    FrameParams params;
    UnpackFrame(params, frame, rate, badFlag);
    erasureCount = CountErasure(erasureCount, params.badFrame);
    work.good = erasureCount == 0;
    work.openLoopLag[0] = params.openLoopLag[0];
    work.openLoopLag[1] = params.openLoopLag[1];

    DecodeLsp(work.curLsp, prevLsp, params.lspIndex, params.badFrame);
    if (!work.good || lpcSets)
        InterpolateLsp(work.lpc, work.curLsp, prevLsp);

    // excitation keeps the excitation before the pitch postfilter; the
    // synthesis filter is driven by pfExcitation.
    float* frameExcitation = excitation + kHistoryLength;
    if (work.good) {
        DecodeExcitation(frameExcitation, params, rate);
        PitchPostfilter(work.pfExcitation, frameExcitation, params.openLoopLag, pitchVariant);
    } else {
        ConcealLostFrame(excitation, work.pfExcitation, params.openLoopLag[1], erasureCount, concealLag, concealGain,
                         noiseSeed);
    }
}

void DecoderState::DecodeFrame(int16_t output[kFrameLength], const uint8_t frame[kMaxFrameBytes], int rate, int badFlag,
                               LaneVariant pitchVariant)
{
    FrameWork work;
    BeginFrame(work, frame, rate, badFlag, false, pitchVariant);
    if (work.good) {
        // Both filters and the output, with the last LPC sets and the
        // conversion done in the shadow of the filters' chains.
        FilterGoodFrame(synthesisMemory, postfilterMemory, work.pfExcitation, work.curLsp, prevLsp, work.lpc,
                        postfilterTilt, output);
    } else {
        SynthesizeAndPostfilter(synthesisMemory, postfilterMemory, work.pfExcitation, work.lpc, postfilterTilt);
        ConvertToPcm16(output, postfilterMemory + kLpcOrder);
    }
    AdvanceFrame(work.curLsp);
}

}  // namespace mervox
