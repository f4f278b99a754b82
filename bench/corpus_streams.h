// Corpus streams as a host feeds them to the decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mervox::bench {

struct CorpusStream {
    std::string label;              // e.g. "6.3", "mixed+loss"
    std::vector<uint8_t> bytes;     // the stream file
    std::vector<long> frameOffset;  // per frame: offset in bytes, or -1 for a lost frame

    // Frame k as passed to the decoder: a pointer into bytes, or null.
    const uint8_t* Frame(size_t k) const { return frameOffset[k] < 0 ? nullptr : bytes.data() + frameOffset[k]; }
};

// Loads tests/data/corpus/<stem>.bit; with withLoss, also <stem>.loss, whose
// nonzero bytes mark lost frames. Silence-descriptor and untransmitted
// frames (types 2 and 3) are lost frames to the decoder. Exits the program
// with a message when a file is missing.
CorpusStream LoadCorpusStream(const std::string& label, const std::string& stem, bool withLoss);

}  // namespace mervox::bench
