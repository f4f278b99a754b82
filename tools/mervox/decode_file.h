// One input of `mervox decode` to its output, frame by frame: the input is
// read in blocks and the output written as it is decoded, so memory does
// not depend on the stream's length. Safe to run for different inputs on
// different threads at once (each call has its own reader, decoder, loss
// plan and output).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "console.h"
#include "output/pcm_format.h"

namespace mervox::cli {

struct DecodeJob {
    std::string input;   // path, "-" for stdin
    std::string output;  // path, "-" for stdout
    media::output::PcmFormat format = media::output::PcmFormat::kWav;
    bool force = false;  // decode an input that looks like another format (--force)
};

// How every input of one run loses frames (each input on its own, from
// its first frame: the same frames as when it is decoded alone).
struct LossSettings {
    std::string mask;  // empty: no mask
    double dropRate = 0.0;
    uint64_t seed = 1;
};

// The progress line of a run: input bytes decoded of all inputs' bytes.
class DecodeProgress {
public:
    DecodeProgress(Console& console, std::string label, uint64_t totalBytes)
        : console_(console), label_(std::move(label)), total_(totalBytes)
    {}
    void Advance(uint64_t bytes);

private:
    Console& console_;
    std::string label_;
    uint64_t total_;
    std::atomic<uint64_t> done_{0};
};

// Decodes one input; returns its exit status (0, or the ExitCode of its
// failure, whose message has been printed). An input whose first bytes are
// another format's (a capture, a WAV file, text) fails before its output
// is opened, unless job.force.
int DecodeFile(const DecodeJob& job, const LossSettings& loss, Console& console, DecodeProgress& progress);

}  // namespace mervox::cli
