// Input: the bytes of a stream file. The command-line tool's splitter must
// cover them exactly (whole frames back to back from byte 0, then at most one
// truncated frame) and each frame must be decodable the way `mervox decode`
// decodes it.
#include <cstring>
#include <vector>

#include "check.h"
#include "mervox.h"
#include "stream_reader.h"
#include "targets.h"

namespace mervox::fuzz {

int RunStreamReader(const uint8_t* data, size_t size)
{
    // The bytes in a buffer of exactly their size, so that ASan sees any
    // read past the end.
    std::vector<uint8_t> bytes(data, data + size);
    const cli::StreamSplit split = cli::SplitStream(bytes.data(), bytes.size());

    size_t offset = 0;
    for (const cli::StreamFrame& f : split.frames) {
        Require(f.offset == offset, "frames are not back to back from byte 0");
        Require(f.type == cli::FrameTypeOf(bytes[offset]), "frame type is not that of its first byte");
        Require(f.length() <= size - offset, "a frame runs past the end");
        offset += f.length();
    }
    if (split.truncated) {
        Require(split.truncatedOffset == offset && offset < size, "truncated frame is not where the frames end");
        Require(split.truncatedLength == size - offset, "wrong length of the truncated frame");
        Require(split.truncatedExpected == cli::FrameTypeLength(cli::FrameTypeOf(bytes[offset])) &&
                    split.truncatedLength < split.truncatedExpected,
                "truncated frame is in fact whole");
    } else {
        Require(offset == size, "bytes left over without a truncated frame");
    }

    mervox_decoder* decoder = mervox_decoder_create(1, nullptr);
    Require(decoder != nullptr, "mervox_decoder_create failed");
    int16_t pcm[240];
    for (const cli::StreamFrame& f : split.frames) {
        const int r = f.speech() ? mervox_decode(decoder, bytes.data() + f.offset, f.length(), pcm)
                                 : mervox_conceal(decoder, pcm);
        Require(r == (f.speech() ? static_cast<int>(f.length() / 2) : 1), "unexpected decode result");
    }
    mervox_decoder_destroy(decoder);
    return 0;
}

}  // namespace mervox::fuzz
