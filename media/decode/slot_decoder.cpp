#include "decode/slot_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace mervox::media::decode {

void SlotBatch::Frame(size_t id, const uint8_t* frame, size_t size)
{
    Item item{Kind::kSlots, 0, {}, id, 1};
    item.size = static_cast<uint8_t>(std::min<size_t>(size, sizeof item.bytes));
    std::memcpy(item.bytes, frame, item.size);
    items_.push_back(item);
}

void SlotDecoder::Decode(const SlotBatch& batch, PcmOutputs& outputs)
{
    for (const SlotBatch::Item& item : batch.items()) {
        if (item.kind != SlotBatch::Kind::kStart)
            continue;
        outputs.Started(item.id);  // its decoder comes with its first slot
    }
    DecodeSlots(batch.items(), outputs);
    for (const SlotBatch::Item& item : batch.items()) {
        if (item.kind != SlotBatch::Kind::kEnd)
            continue;
        const auto lane = laneOf_.find(item.id);
        if (lane != laneOf_.end() && lanes_[lane->second].ended)
            continue;  // as soon as its slots were done
        outputs.Ended(item.id);
        streams_.erase(item.id);
    }
}

// Each call decodes the next slot of each of up to `lanes` streams; a stream
// keeps its place in the calls until its slots are done (or its output
// stopped), and the next stream takes the place it leaves. A stream that
// ends in the batch ends as soon as it leaves: few decoders and outputs
// are under way at once, however many short streams the batch holds.
void SlotDecoder::DecodeSlots(const std::vector<SlotBatch::Item>& items, PcmOutputs& outputs)
{
    lanes_.clear();
    laneOf_.clear();
    nextItem_.assign(items.size(), kNoItem);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind != SlotBatch::Kind::kSlots || items[i].count == 0)
            continue;
        const auto [at, added] = laneOf_.emplace(items[i].id, lanes_.size());
        if (added) {
            lanes_.push_back(Lane{&streams_[items[i].id], items[i].id, i, i, 0, false, false});
        } else {
            Lane& lane = lanes_[at->second];
            nextItem_[lane.last] = i;
            lane.last = i;
        }
    }
    for (const SlotBatch::Item& item : items) {
        if (item.kind != SlotBatch::Kind::kEnd)
            continue;
        const auto lane = laneOf_.find(item.id);
        if (lane != laneOf_.end())
            lanes_[lane->second].ends = true;
    }

    size_t waiting = 0;  // the first lane not yet in a call
    group_.clear();
    for (;;) {
        for (; group_.size() < capacity_ && waiting < lanes_.size(); ++waiting) {
            Stream& stream = *lanes_[waiting].stream;
            if (stream.stopped)
                continue;
            if (!stream.decoder) {
                // As after INITdec(1): 6.3 kbit/s until a frame says otherwise.
                base::Result<FrameDecoder> decoder = FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
                if (!decoder.ok())
                    throw std::bad_alloc();
                stream.decoder.emplace(std::move(decoder.value()));
            }
            group_.push_back(waiting);
        }
        if (group_.empty())
            return;
        for (const size_t l : group_) {
            const Lane& lane = lanes_[l];
            const SlotBatch::Item& item = items[lane.item];
            if (item.size)
                frames_.Add(*lane.stream->decoder, item.bytes, item.size);
            else
                frames_.AddMissing(*lane.stream->decoder);
        }
        frames_.Decode();
        for (size_t k = 0; k < group_.size(); ++k) {
            Lane& lane = lanes_[group_[k]];
            if (!outputs.Samples(lane.id, frames_.pcm(k), MERVOX_FRAME_SAMPLES))
                lane.stream->stopped = true;
            if (++lane.done == items[lane.item].count) {
                lane.item = nextItem_[lane.item];
                lane.done = 0;
            }
        }
        frames_.Clear();
        group_.erase(std::remove_if(group_.begin(), group_.end(),
                                    [&](size_t l) {
                                        Lane& lane = lanes_[l];
                                        if (lane.item != kNoItem && !lane.stream->stopped)
                                            return false;
                                        if (lane.ends) {
                                            outputs.Ended(lane.id);
                                            streams_.erase(lane.id);
                                            lane.ended = true;
                                        }
                                        return true;
                                    }),
                     group_.end());
    }
}

}  // namespace mervox::media::decode
