// Simulated frame loss: a loss mask file and/or reproducible random drops,
// decided frame by frame as the stream is decoded (the mask is read in
// blocks, never whole).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/status.h"
#include "stream/input_file.h"

namespace mervox::media::decode {

// Each frame is lost with probability `dropRate`, drawn from a generator
// seeded with `seed`: the same seed always drops the same frames, on every
// platform (mt19937_64's sequence is fixed by the C++ standard; the
// uniform value is made here, not by a library distribution).
class RandomDrops {
public:
    RandomDrops(double dropRate, uint64_t seed) : rate_(dropRate), generator_(seed) {}
    bool Next()
    {
        if (rate_ <= 0.0)
            return false;
        const double u = static_cast<double>(generator_() >> 11) * 0x1.0p-53;
        return u < rate_;
    }

private:
    double rate_;
    std::mt19937_64 generator_;
};

class LossPlan {
public:
    // `maskPath` empty: no mask. A mask has one byte per frame, nonzero =
    // lost; frames past its end are kept.
    static base::Result<LossPlan> Open(const std::string& maskPath, double dropRate, uint64_t seed);
    // The same with the mask's bytes in memory (named "loss" in messages).
    static LossPlan FromBytes(std::vector<uint8_t> mask, double dropRate, uint64_t seed);

    // Whether the next frame is lost. False with a failed status() when
    // the mask cannot be read (the frame then counts as kept).
    bool NextLost();
    const base::Status& status() const { return status_; }

    // After the last frame: the mask's length in bytes (reads what is left
    // of it), or 0 without a mask.
    base::Result<uint64_t> MaskBytes();
    std::string maskName() const { return mask_ ? mask_->name() : "loss"; }
    bool hasMask() const { return mask_ || memoryMask_; }

private:
    LossPlan(std::unique_ptr<stream::InputFile> mask, RandomDrops drops);
    bool NextMaskByte();

    std::unique_ptr<stream::InputFile> mask_;
    bool memoryMask_ = false;  // block_ holds the whole mask
    std::unique_ptr<uint8_t[]> block_;
    size_t blockSize_ = 0, blockPosition_ = 0;
    bool maskEnded_ = false;
    RandomDrops drops_;
    base::Status status_;
};

// The whole plan for `frames` frames at once (tests and small hosts).
std::vector<uint8_t> BuildLossPlan(size_t frames, const std::vector<uint8_t>& mask, double dropRate, uint64_t seed);

}  // namespace mervox::media::decode
