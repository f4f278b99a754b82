// One stream decoded frame by frame, as `mervox decode` and the Python
// module's decode() do: every whole frame through the loss plan and the
// decode-or-conceal step, each frame's 240 samples handed on as they come,
// so memory does not depend on the stream's length.
//
//   StreamDecode d(reader);
//   Status s = d.Start();               // the stream has a whole frame
//   ... open the output ...
//   s = d.Run(loss, [&](const Frame& f, const FramePcm& pcm) { return sink.Write(pcm); });
//   for (const std::string& w : d.Warnings(loss)) warn(w);
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/status.h"
#include "decode/frame_decoder.h"
#include "decode/loss.h"
#include "stream/stream_reader.h"

namespace mervox::media::decode {

class StreamDecode {
public:
    // Each decoded frame's samples; a failed Status stops the decoding
    // and is Run()'s result.
    using FrameCall = std::function<base::Status(const stream::Frame& frame, const FramePcm& pcm)>;

    explicit StreamDecode(stream::StreamReader& reader) : reader_(reader) {}

    // Reads the first frame. Fails when reading fails, or the stream holds
    // no whole frame ("NAME: byte 0: empty input, no frames", or its cut
    // frame and ", no whole frame").
    base::Status Start();

    // Decodes every frame from the first on, as after INITdec(1), each
    // lost where `loss` says so.
    base::Status Run(LossPlan& loss, const FrameCall& each);

    // After Run(): the stream's cut last frame, and a mask whose length is
    // not the number of frames.
    base::Result<std::vector<std::string>> Warnings(LossPlan& loss) const;

private:
    stream::StreamReader& reader_;
    stream::Frame frame_{};
    bool started_ = false;
};

}  // namespace mervox::media::decode
