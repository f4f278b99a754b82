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

// "Floor": the synthesis and formant recursions of one frame and nothing else.
void RegisterFloorBenchmark(const std::vector<FrameInputs>& frames);

}  // namespace mervox::bench
