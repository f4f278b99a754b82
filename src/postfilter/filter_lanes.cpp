// FilterLanes through the kernel table, and the table's scalar filter: the
// single-stream functions, one stream after the other.
#include "postfilter/filter_lanes.h"

#include "codec_facts.h"
#include "postfilter/lane_kernels.h"
#include "postfilter/postfilter.h"

namespace mervox {

void FilterLanesScalar(const LaneStream* streams, int count)
{
    for (int k = 0; k < count; ++k) {
        const LaneStream& s = streams[k];
        SynthesizeAndPostfilter(s.synthesis, s.postfiltered, s.excitation, s.lpc, *s.tilt);
        ConvertToPcm16(s.pcm, s.postfiltered + kLpcOrder);
    }
}

void FilterLanes(const LaneStream* streams, int count, LaneVariant variant)
{
    KernelsOf(variant).filterLanes(streams, count);
}

}  // namespace mervox
