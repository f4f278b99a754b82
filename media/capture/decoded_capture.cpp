#include "capture/decoded_capture.h"

#include <map>
#include <vector>

#include "decode/slot_decoder.h"

namespace mervox::media::capture {
namespace {

// Slots handed to the decoder in batches of about this many.
constexpr size_t kBatchItems = 4096;

// Hands the timelines to a SlotDecoder and keeps every stream's samples.
class Collector : public StreamConsumer, private decode::PcmOutputs {
public:
    explicit Collector(const base::StopRequested& stop) : check_(stop) {}

    void StreamStarted(size_t id, const timeline::StreamInfo&) override
    {
        Add([&] { batch_.Start(id); });
    }
    bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) override
    {
        Add([&] { frame ? batch_.Frame(id, frame, size) : batch_.Missing(id, count); });
        return true;
    }
    void StreamEnded(size_t id, const timeline::RtpStream&) override
    {
        Add([&] { batch_.End(id); });
    }

    CaptureReport Attach(CaptureReport report)
    {
        decoder_.Decode(batch_, *this);
        batch_.Clear();
        for (timeline::RtpStream& s : report.streams)
            s.pcm = std::move(pcm_[s.id]);
        return report;
    }

private:
    template <typename F>
    void Add(F add)
    {
        add();
        if (batch_.size() >= kBatchItems) {
            decoder_.Decode(batch_, *this);
            batch_.Clear();
        }
    }
    void Started(size_t) override {}
    bool Samples(size_t id, const int16_t* pcm, size_t count) override
    {
        std::vector<int16_t>& all = pcm_[id];
        all.insert(all.end(), pcm, pcm + count);
        check_.Frame();  // one frame a call
        return true;
    }
    void Ended(size_t) override {}

    decode::SlotBatch batch_;
    decode::SlotDecoder decoder_;
    std::map<size_t, std::vector<int16_t>> pcm_;
    base::StopCheck check_;
};

}  // namespace

CaptureReport DecodeCaptureFile(const std::string& path, const CaptureOptions& options, const base::StopRequested& stop)
{
    Collector collector(stop);
    return collector.Attach(ReadCapture(path, options, collector));
}

CaptureReport DecodeCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options,
                                 const base::StopRequested& stop)
{
    Collector collector(stop);
    return collector.Attach(ReadCaptureBytes(data, size, options, collector));
}

}  // namespace mervox::media::capture
