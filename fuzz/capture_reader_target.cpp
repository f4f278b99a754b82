// Input: the bytes of a pcap or pcapng capture. The capture reader must
// return a consistent report, whatever the timeline rules make of the
// packets: every packet is placed, dropped as a duplicate or dropped as
// late; the statistics add up; each stream's samples are its timeline, 240
// per frame; and no stream receives more concealment than its budget.
#include <algorithm>
#include <map>
#include <set>

#include "capture.h"
#include "check.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

// Decoding is bounded: timestamps chosen by the input can ask for many
// concealed frames per packet.
constexpr uint64_t kMaxDecodedFrames = 600;

class Checker : public capture::StreamConsumer {
public:
    void StreamStarted(size_t id, const capture::StreamInfo& info) override
    {
        Require(id == started_++, "stream ids are not consecutive");
        Require(info.number >= 1, "stream number below 1");
        frames_[id] = 0;
    }
    bool Samples(size_t id, const int16_t*, size_t count) override
    {
        Require(frames_.count(id) == 1, "samples of a stream that never started");
        Require(count == 240, "a decoded frame is not 240 samples");
        return ++frames_[id] < kMaxDecodedFrames;
    }
    void StreamEnded(size_t id, const capture::RtpStream& s) override
    {
        Require(frames_.count(id) == 1, "a stream ended that never started");
        Require(ended_.insert(id).second, "a stream ended twice");
        const capture::TimelineStats& t = s.stats;
        Require(frames_[id] == std::min(t.TimelineFrames(), kMaxDecodedFrames),
                "decoded frames differ from the timeline");
        Require(t.speechFrames + t.silenceFrames == t.frames, "speech and silence frames do not add up");
        Require(t.duplicates + t.late + t.reordered <= t.packets, "more packets dropped or moved than received");
        Require(t.packets >= capture::kConfirmPackets, "a stream of fewer packets than recognising one takes");
        // Each placed packet's frames, at most.
        Require(t.strayTimestamps <= t.packets, "more stray timestamps than packets");
        Require(t.sequenceRuns < t.packets, "more sequence runs than packets");
        // The whole concealment a stream can get: the allowance plus ten per
        // real frame (the capture-time part is the smaller one or not).
        const uint64_t real = t.speechFrames + t.descriptorFrames;
        Require(t.lostFrames <= capture::kConcealAllowance + capture::kConcealPerRealFrame * real,
                "concealment beyond the stream's budget");
    }

    size_t started() const { return started_; }
    size_t ended() const { return ended_.size(); }

private:
    size_t started_ = 0;
    std::map<size_t, uint64_t> frames_;
    std::set<size_t> ended_;
};

}  // namespace

int RunCaptureReader(const uint8_t* data, size_t size)
{
    // The bytes in a buffer of exactly their size, so that ASan sees any
    // read past the end.
    std::vector<uint8_t> bytes(data, data + size);
    Checker checker;
    const capture::CaptureReport report = capture::ReadCaptureBytes(bytes.data(), bytes.size(), {}, checker);
    if (report.status == capture::CaptureStatus::kNotACapture) {
        Require(report.streams.empty() && checker.started() == 0, "streams found in something that is not a capture");
        return 0;
    }
    Require(checker.ended() == checker.started() && report.streams.size() == checker.started(),
            "every stream that started must end and be reported");
    uint64_t streamPackets = 0;
    for (const capture::RtpStream& s : report.streams)
        streamPackets += s.stats.packets;
    Require(streamPackets == report.counters.streamPackets, "stream packets do not add up");
    uint64_t skipped = 0;
    for (uint64_t n : report.counters.skipped.counts)
        skipped += n;
    Require(skipped + streamPackets == report.counters.records, "records not accounted for, or twice");
    return 0;
}

}  // namespace mervox::fuzz
