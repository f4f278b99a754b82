#include "stream_timeline.h"

#include <algorithm>
#include <unordered_set>

namespace mervox::capture {

std::vector<int64_t> ExtendSequenceNumbers(const std::vector<StreamPacket>& packets)
{
    std::vector<int64_t> extended(packets.size());
    int64_t highest = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == 0) {
            highest = extended[0] = packets[0].sequence;
            continue;
        }
        const auto delta = static_cast<int16_t>(static_cast<uint16_t>(packets[i].sequence - (highest & 0xffff)));
        extended[i] = highest + delta;
        highest = std::max(highest, extended[i]);
    }
    return extended;
}

namespace {

// Distinct packets in sequence order; counts duplicates and late arrivals.
std::vector<uint32_t> OrderPackets(const std::vector<StreamPacket>& packets, TimelineStats& stats)
{
    const std::vector<int64_t> extended = ExtendSequenceNumbers(packets);
    std::unordered_set<int64_t> seen;
    std::vector<uint32_t> order;
    int64_t highest = 0;
    for (uint32_t i = 0; i < packets.size(); ++i) {
        if (!seen.insert(extended[i]).second) {
            ++stats.duplicates;
            continue;
        }
        if (i > 0 && extended[i] < highest)
            ++stats.reordered;
        highest = i == 0 ? extended[i] : std::max(highest, extended[i]);
        order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return extended[a] < extended[b]; });
    return order;
}

}  // namespace

Timeline BuildTimeline(const std::vector<StreamPacket>& packets)
{
    Timeline t;
    t.stats.packets = packets.size();
    const std::vector<uint32_t> order = OrderPackets(packets, t.stats);

    bool started = false;
    int64_t previousTimestamp = 0;  // extended timestamp of the previous packet
    int64_t next = 0;               // extended timestamp where the next frame belongs
    int64_t shift = 0;              // added to timestamps after a jump back
    int lastRate = -1;
    for (uint32_t index : order) {
        const StreamPacket& p = packets[index];
        if (p.payloadCutShort)
            ++t.stats.cutShortPayloads;
        // Extend the timestamp across wraps at 2^32, relative to the packet before.
        int64_t timestamp = p.timestamp;
        if (started)
            timestamp =
                previousTimestamp + static_cast<int32_t>(p.timestamp - static_cast<uint32_t>(previousTimestamp));
        previousTimestamp = timestamp;
        timestamp += shift;
        if (!started && !p.frames.empty()) {
            started = true;
            next = timestamp;
        }
        for (size_t k = 0; k < p.frames.size(); ++k) {
            int64_t at = timestamp + kTicksPerFrame * static_cast<int64_t>(k);
            if (at < next - kMaxGapFrames * kTicksPerFrame) {
                // The clock went far back: carry on from here, this frame next.
                ++t.stats.timestampJumps;
                shift += next - at;
                timestamp += next - at;
                at = next;
            }
            // Whole frames between where we are and this frame, to the nearest frame.
            const int64_t offset = at - next + kTicksPerFrame / 2;
            const int64_t gap = offset >= 0 ? offset / kTicksPerFrame : -1;
            if (gap < 0) {
                ++t.stats.overlapping;
                continue;
            }
            if (gap > 0) {
                const int64_t run = std::min(gap, kMaxGapFrames);
                if (gap > kMaxGapFrames)
                    ++t.stats.timestampJumps;
                t.entries.push_back({0, 0, FrameType::kUntransmitted, static_cast<uint32_t>(run)});
                t.stats.lostFrames += static_cast<uint64_t>(run);
            }
            const FrameSlice& f = p.frames[k];
            t.entries.push_back({index, f.offset, f.type, 0});
            ++t.stats.frames;
            if (IsSpeech(f.type)) {
                ++t.stats.speechFrames;
                const int rate = static_cast<int>(f.type);
                if (lastRate >= 0 && rate != lastRate)
                    ++t.stats.rateSwitches;
                lastRate = rate;
            } else {
                ++t.stats.silenceFrames;
            }
            next = at + kTicksPerFrame;
        }
    }
    return t;
}

}  // namespace mervox::capture
