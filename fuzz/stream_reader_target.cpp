// Input: the bytes of a stream file. The tools' streaming splitter must give
// the same frames whatever the block boundaries: the bytes in one block, one
// byte per block (a boundary at every position of every frame), and blocks
// of pseudo-random sizes. The frames must cover the bytes exactly (whole
// frames back to back from byte 0, then at most one truncated frame), and
// each must decode the way `mervox decode` decodes it. The recognizer of
// other formats judges an input by its first kSignatureBytes bytes alone,
// and the reader refuses exactly what it recognizes (and splits the rest,
// or everything when told to, as the splitter does).
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "check.h"
#include "decode/frame_decoder.h"
#include "mervox.h"
#include "stream/frame_splitter.h"
#include "stream/input_signature.h"
#include "stream/stream_reader.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

struct SplitResult {
    std::vector<media::stream::Frame> frames;  // bytes pointers not kept: see `contents`
    std::vector<uint8_t> contents;             // the frames' bytes, back to back
    std::optional<media::stream::Truncation> truncated;
};

// Splits `bytes` pushed in blocks whose sizes come from `nextSize`.
template <typename NextSize>
SplitResult Split(const std::vector<uint8_t>& bytes, NextSize nextSize)
{
    SplitResult r;
    media::stream::FrameSplitter splitter;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t n = std::min(nextSize(), bytes.size() - at);
        // Each block in a buffer of exactly its size, so that ASan sees any
        // read past its end or any use of it after the next block came.
        std::vector<uint8_t> block(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n));
        splitter.Push(block.data(), block.size());
        media::stream::Frame f;
        while (splitter.Next(&f)) {
            r.contents.insert(r.contents.end(), f.bytes, f.bytes + f.length);
            f.bytes = nullptr;
            r.frames.push_back(f);
        }
        at += n;
    }
    r.truncated = splitter.Truncated();
    return r;
}

bool SameSplit(const SplitResult& a, const SplitResult& b)
{
    if (a.frames.size() != b.frames.size() || a.contents != b.contents ||
        a.truncated.has_value() != b.truncated.has_value())
        return false;
    for (size_t k = 0; k < a.frames.size(); ++k)
        if (a.frames[k].offset != b.frames[k].offset || a.frames[k].type != b.frames[k].type ||
            a.frames[k].index != k || b.frames[k].index != k)
            return false;
    return !a.truncated ||
           (a.truncated->offset == b.truncated->offset && a.truncated->present == b.truncated->present &&
            a.truncated->expected == b.truncated->expected);
}

}  // namespace

int RunStreamReader(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    const SplitResult whole = Split(bytes, [&] { return size; });

    size_t offset = 0;
    for (const media::stream::Frame& f : whole.frames) {
        Require(f.offset == offset, "frames are not back to back from byte 0");
        Require(f.type == media::stream::FrameTypeOf(bytes[offset]), "frame type is not that of its first byte");
        Require(f.length == mervox_frame_bytes(bytes[offset]) && f.length <= size - offset,
                "a frame runs past the end");
        offset += f.length;
    }
    Require(whole.contents == std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(offset)),
            "frames do not hold the stream's bytes");
    if (whole.truncated) {
        Require(whole.truncated->offset == offset && offset < size, "truncated frame is not where the frames end");
        Require(whole.truncated->present == size - offset, "wrong length of the truncated frame");
        Require(whole.truncated->expected == mervox_frame_bytes(bytes[offset]) &&
                    whole.truncated->present < whole.truncated->expected,
                "truncated frame is in fact whole");
    } else {
        Require(offset == size, "bytes left over without a truncated frame");
    }

    Require(SameSplit(whole, Split(bytes, [] { return size_t{1}; })), "byte-by-byte blocks split differently");
    uint32_t state = static_cast<uint32_t>(size) * 2654435761u + (size ? data[0] : 0u);
    Require(SameSplit(whole, Split(bytes,
                                   [&] {
                                       state = state * 1664525u + 1013904223u;
                                       return size_t{1} + (state >> 16) % 61;
                                   })),
            "blocks of random sizes split differently");

    media::base::Result<media::decode::FrameDecoder> decoder = media::decode::FrameDecoder::Create();
    Require(decoder.ok(), "FrameDecoder::Create failed");
    FramePcm pcm;
    const uint8_t* frameBytes = whole.contents.data();
    for (const media::stream::Frame& f : whole.frames) {
        decoder.value().Decode(frameBytes, f.length, false, pcm);
        frameBytes += f.length;
    }
    Require(decoder.value().stats().frames == whole.frames.size(), "frames miscounted");

    const std::optional<media::stream::InputKind> kind = media::stream::RecognizeInput(data, size);
    if (size > media::stream::kSignatureBytes)
        Require(media::stream::RecognizeInput(data, media::stream::kSignatureBytes) == kind,
                "judged by bytes past the signature");
    for (const bool refuse : {true, false}) {
        media::stream::StreamReader reader =
            media::stream::StreamReader::FromBytes(bytes.data(), size, "<fuzz>", {refuse, "--force"});
        media::stream::Frame f;
        uint64_t frames = 0;
        while (reader.Next(&f))
            ++frames;
        if (refuse && kind) {
            Require(frames == 0 && reader.otherKind() == kind && reader.status().code() == media::base::kExitBadInput,
                    "another format not refused");
            Require(reader.status().message() == media::stream::OtherFormatMessage("<fuzz>", *kind, "--force"),
                    "refused with another message");
        } else {
            Require(frames == whole.frames.size() && !reader.otherKind(), "the reader splits differently");
            Require(reader.status().ok() == (size > 0), "the reader fails on a stream");
        }
    }
    return 0;
}

}  // namespace mervox::fuzz
