// mervox_instruction_counts: the decoder's work on the corpus streams in two
// functions that valgrind's callgrind can count alone (the files are read
// before either starts):
//
//   CountDecode      one decoder, each of the six corpus streams (6.3, 5.3,
//                    mixed, each without and with its loss mask) frame by
//                    frame through mervox_decode / mervox_conceal
//   CountDecodeMany  16 decoders on the six streams (each starting at
//                    another frame), one mervox_decode_many call per frame
//
// With a variant's name after the mode (scalar, sse2, avx2, avx512), the
// same through the internal calls with that lane variant: DecodeChannelFrame
// with the channel's pitchVariant set, and DecodeManyWith.
//
// Instruction counts do not vary from run to run, unlike times.
// bench/instruction_counts.sh BUILD_DIR [VARIANT] runs both modes under
// callgrind and prints their totals. Each mode prints the frames it decoded
// and a digest of all its output, so that two builds can be shown to decode
// the same samples.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "corpus_streams.h"
#include "interface/channel.h"
#include "interface/decode_many.h"
#include "mervox.h"

namespace mervox::bench {

namespace {

// FNV-1a over the output samples.
uint64_t Digest(const std::vector<int16_t>& pcm)
{
    uint64_t digest = 0xcbf29ce484222325u;
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    for (size_t i = 0; i < pcm.size() * sizeof(int16_t); ++i)
        digest = (digest ^ bytes[i]) * 0x100000001b3u;
    return digest;
}

constexpr size_t kDecoders = 16;  // CountDecodeMany's
constexpr size_t kRounds = 3906;  // CountDecodeMany's calls: a corpus stream's frames

// The variant given on the command line; none: the public calls.
bool gInternal = false;
LaneVariant gVariant = LaneVariant::kScalar;

int Decode(mervox_decoder* decoder, Channel* channel, const uint8_t* frame, int16_t* pcm)
{
    if (channel)
        return DecodeChannelFrame(*channel, frame, pcm);
    return frame ? mervox_decode(decoder, frame, mervox_frame_bytes(frame[0]), pcm) : mervox_conceal(decoder, pcm);
}

}  // namespace

// Each writes its output, frame after frame, to out. Out of line and outside
// the anonymous namespace, so that callgrind finds them by name.
__attribute__((noinline)) void CountDecode(const std::vector<CorpusStream>& streams, int16_t* out);
__attribute__((noinline)) void CountDecodeMany(const std::vector<CorpusStream>& streams, int16_t* out);

void CountDecode(const std::vector<CorpusStream>& streams, int16_t* out)
{
    for (const CorpusStream& s : streams) {
        mervox_decoder* decoder = mervox_decoder_create(1, nullptr);
        Channel channel;
        ResetChannel(channel, 1);
        channel.pitchVariant = gVariant;
        for (size_t k = 0; k < s.frameOffset.size(); ++k) {
            Decode(decoder, gInternal ? &channel : nullptr, s.Frame(k), out);
            out += MERVOX_FRAME_SAMPLES;
        }
        mervox_decoder_destroy(decoder);
    }
}

void CountDecodeMany(const std::vector<CorpusStream>& streams, int16_t* out)
{
    mervox_decoder* decoders[kDecoders];
    const CorpusStream* source[kDecoders];
    size_t position[kDecoders];
    for (size_t k = 0; k < kDecoders; ++k) {
        decoders[k] = mervox_decoder_create(1, nullptr);
        source[k] = &streams[k % streams.size()];
        position[k] = (k * 37) % source[k]->frameOffset.size();
    }
    const uint8_t* batch[kDecoders];
    size_t sizes[kDecoders];
    int results[kDecoders];
    for (size_t round = 0; round < kRounds; ++round) {
        for (size_t k = 0; k < kDecoders; ++k) {
            batch[k] = source[k]->Frame(position[k]);
            sizes[k] = batch[k] ? mervox_frame_bytes(batch[k][0]) : 0;
            if (++position[k] == source[k]->frameOffset.size())
                position[k] = 0;
        }
        if (gInternal)
            DecodeManyWith(decoders, batch, sizes, out, results, kDecoders, gVariant);
        else
            mervox_decode_many(decoders, batch, sizes, out, results, kDecoders);
        out += kDecoders * MERVOX_FRAME_SAMPLES;
    }
    for (mervox_decoder* d : decoders)
        mervox_decoder_destroy(d);
}

}  // namespace mervox::bench

int main(int argc, char** argv)
{
    using namespace mervox;
    using namespace mervox::bench;
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (argc == 3) {
        gInternal = true;
        for (LaneVariant v : kAllLaneVariants)
            if (std::string(LaneVariantName(v)) == argv[2])
                gVariant = v;
        if (LaneVariantName(gVariant) != std::string(argv[2]) || !LaneVariantSupported(gVariant)) {
            std::fprintf(stderr, "mervox_instruction_counts: no variant %s here\n", argv[2]);
            return 2;
        }
    }
    if ((mode != "decode" && mode != "many") || argc > 3) {
        std::fprintf(stderr, "usage: mervox_instruction_counts decode|many [VARIANT]\n");
        return 2;
    }
    const std::vector<CorpusStream> streams = {
        LoadCorpusStream("6.3", "speech-a.63", false),      LoadCorpusStream("5.3", "speech-a.53", false),
        LoadCorpusStream("mixed", "speech-a.mixed", false), LoadCorpusStream("6.3+loss", "speech-a.63", true),
        LoadCorpusStream("5.3+loss", "speech-a.53", true),  LoadCorpusStream("mixed+loss", "speech-a.mixed", true),
    };
    size_t frames = kDecoders * kRounds;
    if (mode == "decode") {
        frames = 0;
        for (const CorpusStream& s : streams)
            frames += s.frameOffset.size();
    }
    std::vector<int16_t> out(frames * MERVOX_FRAME_SAMPLES);
    if (mode == "decode")
        CountDecode(streams, out.data());
    else
        CountDecodeMany(streams, out.data());
    std::printf("%s: %zu frames, output digest %016" PRIx64 "\n", mode.c_str(), out.size() / MERVOX_FRAME_SAMPLES,
                Digest(out));
    return 0;
}
