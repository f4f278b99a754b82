#include "calls/call_audio.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>

#include "base/file_names.h"
#include "base/names.h"
#include "base/utc_time.h"
#include "output/pcm_output.h"
#include "platform/files.h"

namespace mervox::media::calls {

using base::Status;

std::optional<CallLayout> CallLayoutFromName(const std::string& name)
{
    if (name == "call")
        return CallLayout::kStereo;
    if (name == "mixed")
        return CallLayout::kMixed;
    if (name == "streams")
        return CallLayout::kStreams;
    return std::nullopt;
}

namespace {

// Samples of 8 kHz from `from` to `to` (capture seconds), to the nearest.
int64_t SamplesBetween(double from, double to)
{
    const double samples = std::fmax(-1e12, std::fmin(1e12, (to - from) * 8000.0));
    return static_cast<int64_t>(std::llround(samples));
}

// The stream's samples on the call's timeline: from each anchor on, at the
// place the anchor gives. Where an anchor moves the stream back over
// samples it already filled, the earlier samples give way (they are the
// ones that drifted from the arrivals): a stream never overlaps itself.
// Nothing goes before the call's first sample.
std::vector<Segment> Segments(const std::vector<timeline::StreamAnchor>& anchors, int64_t start, uint64_t samples)
{
    std::vector<Segment> segments;
    for (size_t i = 0; i < anchors.size(); ++i) {
        uint64_t from = std::min(anchors[i].sample, samples);
        const uint64_t to = i + 1 < anchors.size() ? std::min(anchors[i + 1].sample, samples) : samples;
        int64_t at = start + anchors[i].at;
        if (at < 0) {
            from += std::min(static_cast<uint64_t>(-at), to - from);
            at = 0;
        }
        if (to <= from)
            continue;
        const auto place = static_cast<uint64_t>(at);
        while (!segments.empty() && segments.back().at >= place)
            segments.pop_back();
        if (!segments.empty() && segments.back().at + segments.back().count > place)
            segments.back().count = place - segments.back().at;
        segments.push_back({from, to - from, place});
    }
    return segments;
}

// Whether the stream's frames span more than twice the time its packets
// took to arrive, and a second more: no receiver got it so, and its
// arrivals say nothing of where its samples belong (anchoring to them would
// cut nearly all of it).
bool FasterThanRealTime(const timeline::RtpStream& s)
{
    const double carried = static_cast<double>(s.stats.frames) * 0.03;
    return carried > 2 * (s.lastArrival - s.firstArrival) + 1.0;
}

// Frames of decoded audio read at once while looking for quiet.
constexpr size_t kScanFrames = 16;

// Re-anchoring `a` (after an anchor whose offset, at − sample, is
// `previous`) brought forward, whole, into the first run of quiet frames
// (below kQuietPower) that can take it between where the stream's arrivals
// began to move and where its timeline put it: at least
// timeline::kMinPauseSamples long, and where it moves the stream earlier,
// as long as the samples that give way. Whole, so that the anchors after
// it still hold (the stream lies by as much the other way for a while, as
// it lay off before). Frames lie every 240 samples from the stream's first.
timeline::StreamAnchor QuietAnchor(const timeline::StreamAnchor& a, int64_t previous, size_t stream, uint64_t samples,
                                   SampleSource& source, Status& status)
{
    constexpr uint64_t kFrame = 240;
    const int64_t offset = a.at - static_cast<int64_t>(a.sample);
    const int64_t amount = offset - previous;
    const uint64_t drop = amount < 0 ? static_cast<uint64_t>(-amount) : 0;  // samples that give way
    const uint64_t need = std::max(static_cast<uint64_t>(timeline::kMinPauseSamples), drop);
    // A run that would put the anchor before `a.sample` begins before it.
    const uint64_t limit = a.sample + need;
    uint64_t frame = (a.earliest + kFrame - 1) / kFrame;
    std::optional<uint64_t> run;  // start of the quiet run in progress
    std::vector<int16_t> read(kScanFrames * kFrame);
    while (frame * kFrame < limit) {
        const uint64_t from = frame * kFrame;
        const auto count =
            static_cast<size_t>(std::min<uint64_t>({read.size(), samples > from ? samples - from : 0, limit - from}));
        if (count < kFrame)
            break;
        status = source.Read(stream, from, read.data(), count);
        if (!status.ok())
            return a;
        for (size_t f = 0; f + kFrame <= count; f += kFrame, ++frame) {
            int64_t power = 0;
            for (size_t j = f; j < f + kFrame; ++j)
                power += int64_t{read[j]} * read[j];
            if (power >= kQuietPower * static_cast<int64_t>(kFrame)) {
                run.reset();
                continue;
            }
            if (!run)
                run = frame * kFrame;
            if ((frame + 1) * kFrame - *run < need)
                continue;
            const uint64_t point = *run + drop;
            if (point >= a.sample)
                return a;  // no earlier pause
            timeline::StreamAnchor moved = a;
            moved.sample = point;
            moved.at = static_cast<int64_t>(point) + offset;
            return moved;
        }
    }
    return a;
}

std::vector<timeline::StreamAnchor> QuietAnchors(const std::vector<timeline::StreamAnchor>& anchors, size_t stream,
                                                 uint64_t samples, SampleSource& source)
{
    std::vector<timeline::StreamAnchor> moved = anchors;
    for (size_t i = 1; i < moved.size(); ++i) {
        if (moved[i].earliest >= moved[i].sample || moved[i].earliest <= moved[i - 1].sample)
            continue;
        Status status = Status::Ok();
        const int64_t previous = moved[i - 1].at - static_cast<int64_t>(moved[i - 1].sample);
        moved[i] = QuietAnchor(moved[i], previous, stream, samples, source, status);
        if (!status.ok())
            return anchors;  // unreadable: where the timeline put them
    }
    return moved;
}

// How much silence a call's recording may keep in all.
uint64_t SilenceAllowance(const Call& call, const std::vector<timeline::RtpStream>& streams)
{
    uint64_t real = 0;
    for (const CallStream& cs : call.streams)
        real += streams[cs.stream].stats.speechFrames + streams[cs.stream].stats.descriptorFrames;
    return real > UINT64_MAX / kSilencePerRealFrame ? UINT64_MAX : real * kSilencePerRealFrame;
}

// Takes the silence out of the recording that no stream's samples cover
// beyond what may stay (each stretch's first kMaxSilenceSamples, while the
// allowance lasts), and moves what comes after each cut back by it.
void CutSilence(CallAudio& audio, uint64_t allowance)
{
    std::vector<std::pair<uint64_t, uint64_t>> covered;  // [at, at + count)
    for (const PlacedStream& p : audio.streams)
        for (const Segment& g : p.segments)
            covered.emplace_back(g.at, g.at + g.count);
    std::sort(covered.begin(), covered.end());
    struct Removal {
        uint64_t from;  // call sample before any cut
        uint64_t samples;
    };
    std::vector<Removal> removals;
    uint64_t end = 0;
    for (const auto& [from, to] : covered) {
        if (from > end) {
            const uint64_t keep = std::min({from - end, kMaxSilenceSamples, allowance});
            allowance -= keep;
            if (from - end > keep)
                removals.push_back({end + keep, from - end - keep});
        }
        end = std::max(end, to);
    }
    if (removals.empty())
        return;
    std::vector<uint64_t> before;  // samples removed before each removal
    uint64_t removed = 0;
    for (const Removal& r : removals) {
        audio.cuts.push_back({r.from - removed, audio.start + static_cast<double>(r.from) / 8000.0, r.samples});
        before.push_back(removed);
        removed += r.samples;
    }
    // Where call sample `x` lies once the cuts before it (or the one it lies in) are out.
    const auto moved = [&](uint64_t x) {
        const auto next = std::upper_bound(removals.begin(), removals.end(), x,
                                           [](uint64_t v, const Removal& r) { return v < r.from; });
        if (next == removals.begin())
            return x;
        const auto k = static_cast<size_t>(next - removals.begin()) - 1;
        const Removal& r = removals[k];
        return x < r.from + r.samples ? r.from - before[k] : x - before[k] - r.samples;
    };
    for (PlacedStream& p : audio.streams) {
        p.start = moved(p.start);
        for (Segment& g : p.segments)
            g.at = moved(g.at);
    }
    audio.length = end - removed;
}

}  // namespace

CallAudio PlaceCall(const Call& call, const std::vector<timeline::RtpStream>& streams, CallLayout layout,
                    SampleSource* decoded, const std::function<uint64_t(size_t)>& samplesOf)
{
    CallAudio audio;
    if (call.streams.empty())
        return audio;
    bool caller = false, callee = false;
    audio.start = streams[call.streams.front().stream].firstArrival;
    for (const CallStream& cs : call.streams) {
        (cs.fromCaller ? caller : callee) = true;
        audio.start = std::min(audio.start, streams[cs.stream].firstArrival);
    }
    const bool stereo = layout != CallLayout::kMixed && (call.signalled || (caller && callee));
    audio.channels = stereo ? 2 : 1;
    for (const CallStream& cs : call.streams) {
        const timeline::RtpStream& s = streams[cs.stream];
        PlacedStream p;
        p.stream = cs.stream;
        p.channel = stereo && !cs.fromCaller ? 1 : 0;
        const int64_t start = SamplesBetween(audio.start, s.firstArrival);
        p.start = static_cast<uint64_t>(std::max<int64_t>(start, 0));
        p.fasterThanRealTime = FasterThanRealTime(s);
        const uint64_t samples = samplesOf ? samplesOf(cs.stream) : s.Samples();
        if (p.fasterThanRealTime && s.anchors.size() > 1) {
            p.segments = Segments({s.anchors.front()}, start, samples);
        } else {
            p.segments = Segments(
                decoded && s.anchors.size() > 1 ? QuietAnchors(s.anchors, cs.stream, samples, *decoded) : s.anchors,
                start, samples);
            p.reanchors = s.anchors.empty() ? 0 : s.anchors.size() - 1;
        }
        if (!p.segments.empty())
            audio.length = std::max(audio.length, p.segments.back().at + p.segments.back().count);
        audio.streams.push_back(std::move(p));
    }
    CutSilence(audio, SilenceAllowance(call, streams));
    return audio;
}

Status ComposeCall(const CallAudio& audio, SampleSource& source, const BlockWriter& write,
                   const base::StopRequested& stop)
{
    base::StopCheck check(stop);
    const auto channels = static_cast<size_t>(audio.channels);
    std::vector<int64_t> sums(kBlockSamples * channels);
    std::vector<int16_t> block(kBlockSamples * channels);
    std::vector<int16_t> read(kBlockSamples);
    std::vector<size_t> next(audio.streams.size(), 0);  // each stream's first segment not yet passed
    std::vector<bool> done(audio.streams.size(), false);
    for (uint64_t begin = 0; begin < audio.length; begin += kBlockSamples) {
        const uint64_t end = std::min<uint64_t>(begin + kBlockSamples, audio.length);
        std::fill(sums.begin(), sums.end(), 0);
        for (size_t k = 0; k < audio.streams.size(); ++k) {
            const PlacedStream& p = audio.streams[k];
            for (size_t i = next[k]; i < p.segments.size() && p.segments[i].at < end; ++i) {
                const Segment& s = p.segments[i];
                const uint64_t lo = std::max(begin, s.at), hi = std::min(end, s.at + s.count);
                if (lo >= hi)
                    continue;
                const auto count = static_cast<size_t>(hi - lo);
                const Status r = source.Read(p.stream, s.from + (lo - s.at), read.data(), count);
                if (!r.ok())
                    return r;
                int64_t* to = sums.data() + (lo - begin) * channels + static_cast<size_t>(p.channel);
                for (size_t j = 0; j < count; ++j)
                    to[j * channels] += read[j];
            }
            while (next[k] < p.segments.size() && p.segments[next[k]].at + p.segments[next[k]].count <= end)
                ++next[k];
            if (next[k] == p.segments.size() && !done[k]) {
                done[k] = true;
                source.Done(p.stream);
            }
        }
        check.Frames((end - begin) / 240);
        const size_t count = static_cast<size_t>(end - begin) * channels;
        for (size_t j = 0; j < count; ++j)
            block[j] = static_cast<int16_t>(std::clamp<int64_t>(sums[j], INT16_MIN, INT16_MAX));
        const Status w = write(block.data(), count);
        if (!w.ok())
            return w;
    }
    for (size_t k = 0; k < audio.streams.size(); ++k)
        if (!done[k])
            source.Done(audio.streams[k].stream);
    return Status::Ok();
}

Status MemorySampleSource::Read(size_t stream, uint64_t offset, int16_t* samples, size_t count)
{
    const std::vector<int16_t>& pcm = pcm_[stream];
    const auto from = static_cast<size_t>(std::min<uint64_t>(offset, pcm.size()));
    const size_t n = std::min(count, pcm.size() - from);
    std::copy_n(pcm.data() + from, n, samples);
    std::fill(samples + n, samples + count, int16_t{0});
    return Status::Ok();
}

std::vector<int16_t> ComposeCallInMemory(const CallAudio& audio, const std::vector<std::vector<int16_t>>& pcm,
                                         const base::StopRequested& stop)
{
    std::vector<int16_t> out;
    out.reserve(static_cast<size_t>(audio.length) * static_cast<size_t>(audio.channels));
    MemorySampleSource source(pcm);
    ComposeCall(
        audio, source,
        [&](const int16_t* samples, size_t count) {
            out.insert(out.end(), samples, samples + count);
            return Status::Ok();
        },
        stop);
    return out;
}

FileSampleSource::~FileSampleSource()
{
    for (const auto& [stream, fd] : open_)
        platform::CloseFile(fd);
}

Status FileSampleSource::Read(size_t stream, uint64_t offset, int16_t* samples, size_t count)
{
    auto open = open_.find(stream);
    if (open == open_.end()) {
        const std::string& path = paths_.at(stream);
        const int fd = platform::OpenForReading(path);
        if (fd < 0)
            return Status::SystemFailure(base::kExitOutputError, base::DisplayName(path) + ": cannot read", errno);
        open = open_.emplace(stream, fd).first;
    }
    uint8_t bytes[2 * kBlockSamples];
    size_t got = 0;
    const size_t want = std::min(count, kBlockSamples) * 2;
    const int seek = platform::SeekTo(open->second, offset * 2);
    if (seek != 0)
        return Status::SystemFailure(base::kExitOutputError, base::DisplayName(paths_.at(stream)) + ": cannot read",
                                     seek);
    while (got < want) {
        const long long n = platform::ReadSome(open->second, bytes + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Status::SystemFailure(base::kExitOutputError, base::DisplayName(paths_.at(stream)) + ": cannot read",
                                         errno);
        if (n == 0)
            break;  // shorter than placed: silence after its end
        got += static_cast<size_t>(n);
    }
    for (size_t j = 0; j < count; ++j)
        samples[j] = 2 * j + 1 < got ? static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * j] | bytes[2 * j + 1] << 8))
                                     : int16_t{0};
    return Status::Ok();
}

void FileSampleSource::Done(size_t stream)
{
    const auto open = open_.find(stream);
    if (open == open_.end())
        return;
    platform::CloseFile(open->second);
    open_.erase(open);
}

Status WriteCallFile(const CallAudio& audio, SampleSource& source, const std::string& path,
                     const std::string& roomAdvice)
{
    auto out =
        output::OpenPcmOutput(path, audio.channels == 2 ? output::PcmFormat::kWavStereo : output::PcmFormat::kWav);
    if (!out.ok())
        return out.status();
    output::PcmSink& sink = *out.value();
    sink.SetRoomAdvice(roomAdvice);
    const Status room = sink.CheckRoom(audio.length * static_cast<uint64_t>(audio.channels));
    if (!room.ok())
        return room;
    const Status composed =
        ComposeCall(audio, source, [&](const int16_t* samples, size_t count) { return sink.Write(samples, count); });
    if (!composed.ok())
        return composed;  // the sink, destroyed unfinished, leaves nothing
    return sink.Finish();
}

std::string UriUser(const std::string& uri)
{
    std::string rest = uri;
    const size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        const std::string scheme = rest.substr(0, colon);
        if (scheme == "sip" || scheme == "sips" || scheme == "tel")
            rest = rest.substr(colon + 1);
    }
    const size_t at = rest.find('@');
    if (at != std::string::npos)
        return rest.substr(0, at);
    return rest.substr(0, rest.find_first_of(";?:>"));
}

namespace {

std::string UtcText(double seconds)
{
    std::tm utc;
    base::UtcFields(std::fmax(0, std::fmin(seconds, base::kLatestUtcSecond)), &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// "192.0.2.1_5004", "2001_db8__1_5004": no colon or bracket of our own.
std::string AddressPart(const net::Endpoint& e)
{
    std::string text = net::AddressText(e);
    std::replace(text.begin(), text.end(), ':', '_');
    return text + "_" + std::to_string(e.port);
}

}  // namespace

std::string CallFileStem(const Call& call, const std::vector<signalling::Dialog>& dialogs,
                         const std::vector<timeline::RtpStream>& streams, double start)
{
    std::string stem = UtcText(start);
    if (call.signalled) {
        const signalling::Dialog& d = dialogs[call.dialog];
        return stem + "-" + base::SafeNamePart(UriUser(d.from.uri)) + "-" + base::SafeNamePart(UriUser(d.to.uri));
    }
    if (call.streams.empty())
        return stem;
    const timeline::RtpStream& first = streams[call.streams.front().stream];
    return stem + "-" + base::SafeNamePart(AddressPart(first.source)) + "-" +
           base::SafeNamePart(AddressPart(first.destination));
}

}  // namespace mervox::media::calls
