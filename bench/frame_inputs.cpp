#include "frame_inputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "excitation/excitation.h"
#include "interface/channel.h"
#include "lsp/lsp.h"
#include "postfilter/formant_constants.h"
#include "postfilter/postfilter.h"
#include "reference.h"

namespace mervox::bench {
namespace {

// Whether the decoder will decode frame k (good) rather than conceal it.
bool IsGoodFrame(const CorpusStream& stream, size_t k)
{
    const uint8_t* f = stream.Frame(k);
    if (!f)
        return false;
    uint8_t buffer[kMaxFrameBytes] = {};
    std::memcpy(buffer, f, RateFrameBytes(f[0]));
    FrameParams params;
    UnpackFrame(params, buffer, f[0] & 1, 0);
    return params.badFrame == 0;
}

// Runs the frame through the stages one by one, keeping every result, and
// returns the 16-bit output.
void DecodeStageByStage(FrameInputs& in, int16_t pcm[kFrameLength])
{
    const DecoderState& s = in.before;
    UnpackFrame(in.params, in.frame, in.rate, 0);
    DecodeLsp(in.curLsp, s.prevLsp, in.params.lspIndex, in.params.badFrame);
    InterpolateLsp(in.lpc, in.curLsp, s.prevLsp);

    std::memcpy(in.excitation, s.excitation, sizeof in.excitation);
    std::memcpy(in.scratch, s.excitation, sizeof in.scratch);
    DecodeExcitation(in.excitation + kHistoryLength, in.params, in.rate);
    PitchPostfilter(in.pfExcitation, in.excitation + kHistoryLength, in.params.openLoopLag, LaneVariant::kScalar);

    std::memcpy(in.synthesis, s.synthesisMemory, sizeof in.synthesis);
    reference::SynthesisFilter(in.synthesis, in.pfExcitation, in.lpc);
    // The tilt factors of the four subframes, for the floor benchmark: the
    // formant postfilter's tilt update, repeated here; checked against the
    // postfilter's own final tilt below.
    float tilt = s.postfilterTilt;
    float tilts[kSubframes];
    for (int i = 0; i < kSubframes; ++i) {
        const float* x = in.synthesis + kLpcOrder + kSubframeLength * i;
        double energy = 0.0, correlation = 0.0;
        for (int n = 0; n < kSubframeLength; ++n)
            energy += static_cast<double>(x[n]) * x[n];
        for (int n = 0; n < kSubframeLength - 1; ++n)
            correlation += static_cast<double>(x[n]) * x[n + 1];
        const float e = static_cast<float>(energy);
        const float ratio = (e == 0.0f) ? 0.0f : static_cast<float>(correlation / e);
        tilt = static_cast<float>(tilt + kTiltSmoothing * (static_cast<double>(ratio) - tilt));
        tilts[i] = tilt;
        in.tiltFactor[i] = static_cast<float>(kTiltStrength * tilt);
    }
    std::memcpy(in.postfiltered, s.postfilterMemory, sizeof in.postfiltered);
    float tiltOut = s.postfilterTilt;
    reference::FormantPostfilter(in.postfiltered + kLpcOrder, in.synthesis + kLpcOrder, in.lpc, tiltOut);
    if (tiltOut != tilts[kSubframes - 1]) {
        std::fprintf(stderr, "mervox_bench: tilt factors do not match the formant postfilter\n");
        std::exit(3);
    }
    ConvertToPcm16(pcm, in.postfiltered + kLpcOrder);
}

}  // namespace

std::vector<FrameInputs> CaptureGoodFrames(const CorpusStream& stream, int count)
{
    std::vector<size_t> good;
    for (size_t k = 0; k < stream.frameOffset.size(); ++k)
        if (IsGoodFrame(stream, k))
            good.push_back(k);

    std::vector<FrameInputs> inputs(static_cast<size_t>(count));
    Channel channel;
    ResetChannel(channel, 1);
    int16_t pcm[kFrameLength];
    size_t next = 0;
    for (size_t k = 0; k < stream.frameOffset.size() && next < inputs.size(); ++k) {
        const bool wanted = k == good[next * good.size() / inputs.size()];
        if (wanted) {
            FrameInputs& in = inputs[next++];
            const uint8_t* f = stream.Frame(k);
            in.rate = f[0] & 1;
            std::memcpy(in.frame, f, RateFrameBytes(f[0]));
            in.before = channel.state;
        }
        DecodeChannelFrame(channel, stream.Frame(k), pcm);
        if (wanted) {
            int16_t mine[kFrameLength];
            DecodeStageByStage(inputs[next - 1], mine);
            if (std::memcmp(mine, pcm, sizeof pcm) != 0) {
                std::fprintf(stderr, "mervox_bench: stage-by-stage decoding of frame %zu of %s differs\n", k,
                             stream.label.c_str());
                std::exit(3);
            }
        }
    }
    return inputs;
}

std::vector<FrameInputs> CaptureFirstLostFrames(const CorpusStream& stream, int count)
{
    std::vector<FrameInputs> inputs;
    Channel channel;
    ResetChannel(channel, 1);
    int16_t pcm[kFrameLength];
    for (size_t k = 0; k < stream.frameOffset.size() && inputs.size() < static_cast<size_t>(count); ++k) {
        if (!stream.Frame(k) && channel.state.erasureCount == 0 && k > 0) {
            inputs.emplace_back();
            FrameInputs& in = inputs.back();
            in.rate = channel.currentRate;
            in.before = channel.state;
            UnpackFrame(in.params, in.frame, in.rate, 1);  // a lost frame is 24 zero bytes
            std::memcpy(in.scratch, in.before.excitation, sizeof in.scratch);
        }
        DecodeChannelFrame(channel, stream.Frame(k), pcm);
    }
    return inputs;
}

}  // namespace mervox::bench
