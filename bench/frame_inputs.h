// Real inputs for the stage benchmarks: selected frames of a corpus stream
// with every intermediate result of their decoding, so that each stage can
// be timed alone on the data it sees in the decoder.
#pragma once

#include <cstdint>
#include <vector>

#include "bitstream/bitstream.h"
#include "codec_facts.h"
#include "corpus_streams.h"
#include "interface/decoder_state.h"

namespace mervox::bench {

struct FrameInputs {
    int rate = kRate63;
    uint8_t frame[kMaxFrameBytes] = {};
    DecoderState before;  // the decoder as the frame arrives

    // Good frames only: the decoding of the frame, stage by stage.
    FrameParams params = {};
    float curLsp[kLpcOrder] = {};
    float lpc[4 * kLpcOrder] = {};
    float excitation[kExcitationLength] = {};  // history + this frame's excitation
    float pfExcitation[kFrameLength] = {};
    float synthesis[kFilterMemoryLength] = {};     // history + synthesized speech
    float postfiltered[kFilterMemoryLength] = {};  // history + postfiltered speech
    float tiltFactor[kSubframes] = {};             // the formant postfilter's t per subframe

    // Scratch excitation the codebook benchmarks write into (starts as
    // before.excitation).
    float scratch[kExcitationLength] = {};
};

// `count` good frames spread evenly over the stream, each decoded stage by
// stage; the program exits with a message if that decoding differs from
// the decoder's own output for the frame.
std::vector<FrameInputs> CaptureGoodFrames(const CorpusStream& stream, int count);

// `count` frames that start a loss run (the decoder's state before each).
std::vector<FrameInputs> CaptureFirstLostFrames(const CorpusStream& stream, int count);

}  // namespace mervox::bench
