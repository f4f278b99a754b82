// Input: the bytes of a pcap or pcapng capture. The capture reader must
// return a consistent report: timeline entries name existing packets and
// whole frames inside their payloads, the statistics add up, and the first
// frames of every stream decode.
#include "capture.h"
#include "check.h"
#include "stream_decoder.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

// Decoding is bounded: timestamps chosen by the input can ask for up to
// 2000 concealed frames per packet.
constexpr size_t kMaxDecodedFrames = 600;

void CheckStream(const capture::RtpStream& s)
{
    uint64_t frames = 0;
    uint64_t lost = 0;
    for (const capture::TimelineEntry& e : s.timeline.entries) {
        if (e.lostFrames > 0) {
            lost += e.lostFrames;
            continue;
        }
        ++frames;
        Require(e.packet < s.packets.size(), "timeline entry names a packet that does not exist");
        const size_t length = capture::kFrameBytes[static_cast<int>(e.type) & 3];
        const std::vector<uint8_t>& payload = s.packets[e.packet].payload;
        Require(e.offset + length <= payload.size(), "timeline frame runs past its payload");
        Require(static_cast<int>(e.type) == (payload[e.offset] & 3), "frame type is not that of its first byte");
    }
    Require(frames == s.timeline.stats.frames, "frame count does not match the timeline");
    Require(lost == s.timeline.stats.lostFrames, "lost-frame count does not match the timeline");
    Require(s.timeline.stats.speechFrames + s.timeline.stats.silenceFrames == frames,
            "speech and silence frames do not add up");

    size_t decoded = 0;
    capture::DecodeStream(s, [&](const int16_t*, size_t count) {
        Require(count == 240, "a decoded frame is not 240 samples");
        return ++decoded < kMaxDecodedFrames;
    });
}

}  // namespace

int RunCaptureReader(const uint8_t* data, size_t size)
{
    // The bytes in a buffer of exactly their size, so that ASan sees any
    // read past the end.
    std::vector<uint8_t> bytes(data, data + size);
    const capture::CaptureReport report = capture::ReadCaptureBytes(bytes.data(), bytes.size());
    if (report.status == capture::CaptureStatus::kNotACapture) {
        Require(report.streams.empty(), "streams found in something that is not a capture");
        return 0;
    }
    for (const capture::RtpStream& s : report.streams)
        CheckStream(s);
    return 0;
}

}  // namespace mervox::fuzz
