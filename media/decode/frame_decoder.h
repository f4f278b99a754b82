// The decode-or-conceal step every tool shares: a speech frame goes to the
// decoder, anything else (a silence descriptor, an untransmitted frame, a
// frame the loss simulation drops, a slot with no frame at all) is decoded
// as a lost frame, exactly as a host drives DecSoundFrame after INITdec(1).
// Counts what it was given in a StreamStats.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "mervox.hpp"
#include "stream/frame_splitter.h"
#include "stream/stream_stats.h"

namespace mervox::media::decode {

class FrameDecoder {
public:
    // A decoder reset with `rateSelector`; out-of-memory is a Status, not an
    // exception.
    static base::Result<FrameDecoder> Create(int32_t rateSelector = MERVOX_RATE_SELECT_6300);

    FrameDecoder(FrameDecoder&& other) noexcept;
    FrameDecoder& operator=(FrameDecoder&& other) noexcept;
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;
    ~FrameDecoder();

    // A frame of the stream; `lost` decodes it as lost all the same.
    void Decode(const stream::Frame& frame, bool lost, FramePcm& pcm);
    // The same for a frame given by its bytes (`length` = its type's length).
    void Decode(const uint8_t* bytes, size_t length, bool lost, FramePcm& pcm);
    // A slot without any frame (a missing packet).
    void ConcealMissing(FramePcm& pcm);

    const stream::StreamStats& stats() const { return stats_; }

private:
    friend class FrameBatch;  // the same step for many decoders in one call
    explicit FrameDecoder(mervox_decoder* decoder) : decoder_(decoder) {}

    mervox_decoder* decoder_ = nullptr;
    stream::StreamStats stats_;
};

}  // namespace mervox::media::decode
