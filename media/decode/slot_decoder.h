// Frames to PCM for many streams at once: the slots of each stream's
// timeline (a frame's bytes, or a run of slots without a frame) are
// collected in a SlotBatch and decoded by a SlotDecoder with
// mervox_decode_many, one slot of each of up to `lanes` streams per call,
// each stream's slots in order. Every stream is decoded exactly as on its
// own (FrameDecoder::Decode, ConcealMissing), whatever else is in the batch.
//
//   SlotBatch batch;  batch.Start(7); batch.Frame(7, bytes, 24); batch.Missing(7, 3); batch.End(7);
//   decoder.Decode(batch, outputs);   // outputs.Started(7), Samples(7, ...) x4, Ended(7)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "decode/frame_batch.h"
#include "decode/frame_decoder.h"

namespace mervox::media::decode {

// A stream's events in the order a batch holds them.
class SlotBatch {
public:
    enum class Kind : uint8_t { kStart, kSlots, kEnd };
    struct Item {
        Kind kind;
        uint8_t size;  // the frame's bytes; 0 = `count` slots without a frame
        uint8_t bytes[MERVOX_MAX_FRAME_BYTES];
        size_t id;
        uint64_t count;
    };

    void Start(size_t id) { items_.push_back(Item{Kind::kStart, 0, {}, id, 0}); }
    // A frame of any type (a speech frame cut short is concealed); bytes
    // past the longest frame are not needed and not kept.
    void Frame(size_t id, const uint8_t* frame, size_t size);
    void Missing(size_t id, uint64_t count) { items_.push_back(Item{Kind::kSlots, 0, {}, id, count}); }
    void End(size_t id) { items_.push_back(Item{Kind::kEnd, 0, {}, id, 0}); }

    const std::vector<Item>& items() const { return items_; }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void Clear() { items_.clear(); }

private:
    std::vector<Item> items_;
};

// Where a SlotDecoder's samples go.
class PcmOutputs {
public:
    virtual ~PcmOutputs() = default;
    virtual void Started(size_t id) = 0;
    // The next frame's 240 samples of stream `id`; false: decode no more of
    // it (its later slots are skipped).
    virtual bool Samples(size_t id, const int16_t* pcm, size_t count) = 0;
    virtual void Ended(size_t id) = 0;
};

class SlotDecoder {
public:
    // Streams per mervox_decode_many call: enough to fill the widest vector
    // lanes several times over, few enough that the decoders' states (about
    // 4.5 KB each) stay in the processor's second-level cache from one call
    // to the next.
    static constexpr size_t kLanes = 64;

    explicit SlotDecoder(size_t lanes = kLanes) : capacity_(std::max<size_t>(lanes, 1)), frames_(capacity_) {}

    // A stream's start, slots and end come in that order (in one batch or
    // over several), and streams share nothing: the batch's streams start,
    // then its slots are decoded (a decoder each from its first slot, as
    // after INITdec(1): a stream that has not yet sent a frame costs no
    // decoder), and its streams end, each as soon as its slots in the batch
    // are decoded. Throws std::bad_alloc when memory runs out.
    void Decode(const SlotBatch& batch, PcmOutputs& outputs);
    // Drops every stream's decoder (after running out of memory).
    void Forget() { streams_.clear(); }

private:
    struct Stream {
        std::optional<FrameDecoder> decoder;  // from its first slot
        bool stopped = false;                 // its output asked for no more
    };
    // A stream with slots in the batch being decoded: its kSlots items are
    // linked in order through nextItem_.
    struct Lane {
        Stream* stream;
        size_t id;
        size_t item;    // its current kSlots item, kNoItem when done
        size_t last;    // its last kSlots item so far
        uint64_t done;  // slots of the current item decoded
        bool ends;      // the stream ends in the batch
        bool ended;     // and has ended (its stream is gone)
    };
    static constexpr size_t kNoItem = SIZE_MAX;

    void DecodeSlots(const std::vector<SlotBatch::Item>& items, PcmOutputs& outputs);

    size_t capacity_;  // streams per call
    std::unordered_map<size_t, Stream> streams_;
    // Reused from batch to batch:
    FrameBatch frames_;                          // one call's entries
    std::vector<Lane> lanes_;                    // in order of their first slot
    std::unordered_map<size_t, size_t> laneOf_;  // stream id -> index in lanes_
    std::vector<size_t> nextItem_;               // per item: the stream's next kSlots item
    std::vector<size_t> group_;                  // lanes in the current call
};

}  // namespace mervox::media::decode
