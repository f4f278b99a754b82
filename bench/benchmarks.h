// Registration of the benchmark groups; each takes the corpus data it needs.
#pragma once

#include <vector>

#include "corpus_streams.h"
#include "frame_inputs.h"

namespace mervox::bench {

// "Decode/<label>": one DecSoundFrame-equivalent call per iteration, cycling
// through the whole stream.
void RegisterDecodeBenchmarks(const std::vector<CorpusStream>& streams);

// "Stage/<stage>/<rate>": one frame's worth of one stage per iteration.
void RegisterStageBenchmarks(std::vector<FrameInputs>& frames63, std::vector<FrameInputs>& frames53,
                             std::vector<FrameInputs>& firstLost);

// "Floor": the synthesis and formant recursions of one frame and nothing
// else, one after the other; "Chains": the same two recursions overlapped,
// as the decoder runs them.
void RegisterFloorBenchmark(const std::vector<FrameInputs>& frames);

// "Batch/<kernel>/<N>": one batch call per iteration decoding a frame for
// each of N decoders with the given lane kernel; times are per stream and
// frame (the "streams" counter), and "channels" is the number of real-time
// streams one core sustains.
void RegisterBatchBenchmarks(const std::vector<CorpusStream>& streams);

}  // namespace mervox::bench
