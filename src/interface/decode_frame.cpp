// The frame decoding sequence: one frame, or the all-zero frame that stands
// for a lost one, through every stage in their fixed order.
#include "bitstream/bitstream.h"
#include "concealment/concealment.h"
#include "excitation/excitation.h"
#include "interface/decoder_state.h"
#include "lsp/lsp.h"
#include "postfilter/postfilter.h"

namespace mervox {

void DecoderState::DecodeFrame(int16_t output[kFrameLength], const uint8_t frame[kMaxFrameBytes], int rate, int badFlag)
{
    FrameParams params;
    UnpackFrame(params, frame, rate, badFlag);
    erasureCount = CountErasure(erasureCount, params.badFrame);

    float curLsp[kLpcOrder];
    DecodeLsp(curLsp, prevLsp, params.lspIndex, params.badFrame);
    float lpc[kLpcSetsLength];
    InterpolateLsp(lpc, curLsp, prevLsp);

    // excitation keeps the excitation before the pitch postfilter; the
    // synthesis filter is driven by pfExcitation.
    float* frameExcitation = excitation + kHistoryLength;
    float pfExcitation[kFrameLength];
    if (erasureCount == 0) {
        DecodeExcitation(frameExcitation, params, rate);
        PitchPostfilter(pfExcitation, frameExcitation, params.openLoopLag);
    } else {
        ConcealLostFrame(excitation, pfExcitation, params.openLoopLag[1], erasureCount, concealLag, concealGain,
                         noiseSeed);
    }

    SynthesizeAndPostfilter(synthesisMemory, postfilterMemory, pfExcitation, lpc, postfilterTilt);
    ConvertToPcm16(output, postfilterMemory + kLpcOrder);

    AdvanceFrame(curLsp);
}

}  // namespace mervox
