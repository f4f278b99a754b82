// The decode-or-conceal step of FrameDecoder for many streams at once: one
// frame slot of each of several decoders, decoded by one mervox_decode_many
// call (the streams' filters side by side in vector lanes). Every decoder's
// samples and statistics are exactly those of FrameDecoder::Decode or
// ConcealMissing called on it alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/frame_decoder.h"

namespace mervox::media::decode {

class FrameBatch {
public:
    // Room for `capacity` entries (at least 1), allocated here and only here.
    explicit FrameBatch(size_t capacity);

    size_t size() const { return decoders_.size(); }
    bool full() const { return decoders_.size() == capacity_; }

    // The next slot of `decoder`'s stream: a frame of any type, by its bytes
    // (a speech frame cut short is concealed), as FrameDecoder::Decode with
    // lost = false. The bytes must stay readable until Decode(). At most
    // `capacity` entries between Clear()s.
    void Add(FrameDecoder& decoder, const uint8_t* bytes, size_t length);
    // A slot without any frame, as FrameDecoder::ConcealMissing.
    void AddMissing(FrameDecoder& decoder);

    // Decodes every entry in one call; entry k's 240 samples are then at
    // pcm(k) until Clear().
    void Decode();
    const int16_t* pcm(size_t k) const { return pcm_.data() + k * MERVOX_FRAME_SAMPLES; }
    void Clear();

private:
    size_t capacity_;
    std::vector<mervox_decoder*> decoders_;
    std::vector<const uint8_t*> frames_;  // null: decoded as lost
    std::vector<size_t> sizes_;
    std::vector<int16_t> pcm_;
    std::vector<int> results_;
};

}  // namespace mervox::media::decode
