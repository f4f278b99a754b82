// A call's recording, made from its streams' decoded samples: one
// timeline that starts at the call's first RTP packet (capture time), each
// stream placed from its own first packet's arrival and kept on its RTP
// timeline while its arrivals keep to it (re-anchored where they moved:
// timeline/arrival_anchors.h). A re-anchoring goes into the first pause
// that can take it; besides the pauses of the stream's timeline, a stretch
// of its decoded audio below kQuietPower for at least kMinPauseSamples is
// one, and only here, where the decoded samples can be read, is it found.
// Stereo puts the caller's streams on the left and the callee's on the
// right; mixed puts both on one channel. Where streams overlap (two streams
// of one direction, or both directions mixed) their samples are added and
// the sum saturated to 16 bits; where no stream has audio the recording is
// digital silence, held to kMaxSilenceSamples at a time and in all to
// kSilencePerRealFrame per real frame of the call's streams: the rest is
// cut (a stream joined to its call a day later adds a minute, not a day,
// and a recording is bounded by its own media as concealment is). Cutting
// silence never moves one stream against another.
//
// Composition works in blocks from any SampleSource: streams decoded to
// files (FileSampleSource) for bounded memory, or decoded into memory
// (ComposeCallInMemory).
//
//   FileSampleSource source(paths);
//   CallAudio audio = PlaceCall(call, record.streams, CallLayout::kStereo, &source);
//   Status s = WriteCallFile(audio, source, "out/call.wav");
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/stop_check.h"
#include "calls/call.h"
#include "signalling/sip_dialogs.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::calls {

// What `mervox pcap --layout` writes.
enum class CallLayout {
    kStereo,   // "call": one file per call, caller left, callee right
    kMixed,    // "mixed": one mono file per call, both directions added
    kStreams,  // "streams": one file per stream
};
std::optional<CallLayout> CallLayoutFromName(const std::string& name);

// Stream samples [from, from + count) lie at call samples [at, at + count).
struct Segment {
    uint64_t from = 0;
    uint64_t count = 0;
    uint64_t at = 0;
};

struct PlacedStream {
    size_t stream = 0;              // index into the capture's streams
    int channel = 0;                // 0: left (or the only channel), 1: right
    uint64_t start = 0;             // call sample of its first packet's arrival (or of the cut it lies in)
    std::vector<Segment> segments;  // in order of both stream and call samples, disjoint
    uint64_t reanchors = 0;         // times its timeline was moved to its arrivals
    // Its frames span far more time than its packets took to arrive (a
    // replayed or generated capture, not what a receiver got in real time):
    // kept on its RTP timeline from its first packet, never re-anchored.
    bool fasterThanRealTime = false;
};

// A frame of decoded audio is quiet below -50 dBFS: its mean square under
// (32768 * 10^(-50/20))^2.
constexpr int64_t kQuietPower = 10737;

// Silence beyond this, where no stream of the call has audio, is cut: 60 s.
constexpr uint64_t kMaxSilenceSamples = 480000;
// Silence a call's recording keeps in all, per real frame (speech or
// silence descriptor) of its streams: 30 frames, as much as a capture's
// streams may receive of concealment per real frame.
constexpr uint64_t kSilencePerRealFrame = 30 * 240;

// Silence taken out of a recording.
struct SilenceCut {
    uint64_t at = 0;       // the recording's sample where it was taken out
    double time = 0;       // capture time where the silence taken out began
    uint64_t samples = 0;  // how much
};

struct CallAudio {
    int channels = 0;     // 1 or 2; 0: the call has no stream (and no recording)
    double start = 0;     // capture time of the first sample: the call's first RTP packet
    uint64_t length = 0;  // samples per channel
    std::vector<PlacedStream> streams;
    std::vector<SilenceCut> cuts;  // in order; the segments lie where the cuts leave them
};

// Where placement and composition read a stream's decoded samples.
class SampleSource {
public:
    virtual ~SampleSource() = default;
    // `count` samples of stream `stream` from sample `offset` on.
    virtual base::Status Read(size_t stream, uint64_t offset, int16_t* samples, size_t count) = 0;
    // No more reads of stream `stream`.
    virtual void Done(size_t /*stream*/) {}
};

// Stereo: a SIP call, or an unsignalled call with streams both ways; an
// unsignalled stream alone gives a mono recording. `decoded`: where the
// streams' decoded samples can be read, to find
// the quiet stretches a re-anchoring may go into (null: the anchors stay
// where the stream's timeline put them). kStreams is taken as kStereo.
// `samplesOf(i)`: how many samples stream i decoded to, when not all its
// timeline's (RtpStream::Samples()) were.
CallAudio PlaceCall(const Call& call, const std::vector<timeline::RtpStream>& streams, CallLayout layout,
                    SampleSource* decoded = nullptr, const std::function<uint64_t(size_t)>& samplesOf = nullptr);

// Samples per channel in a composed block.
constexpr size_t kBlockSamples = 4096;

// The recording block by block, samples interleaved (left first), to `write`.
// `stop` is asked every base::kFramesPerStopCheck frames' worth of
// samples (base::Interrupted is thrown when it says so).
using BlockWriter = std::function<base::Status(const int16_t* samples, size_t count)>;
base::Status ComposeCall(const CallAudio& audio, SampleSource& source, const BlockWriter& write,
                         const base::StopRequested& stop = {});

// Streams decoded into memory: pcm[i] holds stream i's samples.
class MemorySampleSource : public SampleSource {
public:
    explicit MemorySampleSource(const std::vector<std::vector<int16_t>>& pcm) : pcm_(pcm) {}
    base::Status Read(size_t stream, uint64_t offset, int16_t* samples, size_t count) override;

private:
    const std::vector<std::vector<int16_t>>& pcm_;
};

// The recording at once, from the streams' samples in memory.
std::vector<int16_t> ComposeCallInMemory(const CallAudio& audio, const std::vector<std::vector<int16_t>>& pcm,
                                         const base::StopRequested& stop = {});

// Streams decoded to raw files of little-endian 16-bit samples, each
// opened when first read and closed when done: as many descriptors as
// streams overlap in the call.
class FileSampleSource : public SampleSource {
public:
    explicit FileSampleSource(std::map<size_t, std::string> paths) : paths_(std::move(paths)) {}
    ~FileSampleSource() override;
    FileSampleSource(const FileSampleSource&) = delete;
    FileSampleSource& operator=(const FileSampleSource&) = delete;
    base::Status Read(size_t stream, uint64_t offset, int16_t* samples, size_t count) override;
    void Done(size_t stream) override;

private:
    std::map<size_t, std::string> paths_;
    std::map<size_t, int> open_;
};

// The recording as a WAV file at `path` (complete or absent): mono or
// stereo as `audio` says. `roomAdvice`: what the message suggests when
// the recording is too long for a WAV file (PcmSink::SetRoomAdvice).
base::Status WriteCallFile(const CallAudio& audio, SampleSource& source, const std::string& path,
                           const std::string& roomAdvice = "");

// The name of a call's recording, without prefix and extension:
// "<UTC start>-<from user>-<to user>" for a SIP call,
// "<UTC start>-<address>-<address>" otherwise (one address for a stream
// alone), each part made safe by base::SafeNamePart. The UTC start is
// that of the recording's first sample, as 20261207T101500Z.
std::string CallFileStem(const Call& call, const std::vector<signalling::Dialog>& dialogs,
                         const std::vector<timeline::RtpStream>& streams, double start);

// The user of a SIP URI: "alice" of "sip:alice@example.com;transport=udp";
// the host where there is no user.
std::string UriUser(const std::string& uri);

}  // namespace mervox::media::calls
