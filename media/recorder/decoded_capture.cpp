#include "recorder/decoded_capture.h"

#include <map>
#include <utility>

#include "recorder/recorder.h"

namespace mervox::media::recorder {
namespace {

template <typename Read>
DecodedCapture Decode(const base::StopRequested& stop, Read read)
{
    std::map<size_t, std::vector<int16_t>> pcm;  // by stream id
    RecorderOptions options;
    options.layout = calls::CallLayout::kStreams;
    options.memory = true;
    options.stop = stop;
    options.recorded = [&](RecordedCall& call) {
        for (size_t k = 0; k < call.pcm.size(); ++k)
            pcm[call.record->streams[k].id] = std::move(call.pcm[k]);
    };
    Recorder recorder(options);
    DecodedCapture out;
    static_cast<capture::CaptureReport&>(out) = read(recorder);
    recorder.Finish();
    for (const timeline::RtpStream& s : out.streams)
        out.pcm.push_back(std::move(pcm[s.id]));
    return out;
}

}  // namespace

DecodedCapture DecodeCaptureFile(const std::string& path, const capture::CaptureOptions& options,
                                 const base::StopRequested& stop)
{
    return Decode(stop, [&](Recorder& r) { return capture::ReadCapture(path, options, r); });
}

DecodedCapture DecodeCaptureBytes(const uint8_t* data, size_t size, const capture::CaptureOptions& options,
                                  const base::StopRequested& stop)
{
    return Decode(stop, [&](Recorder& r) { return capture::ReadCaptureBytes(data, size, options, r); });
}

}  // namespace mervox::media::recorder
