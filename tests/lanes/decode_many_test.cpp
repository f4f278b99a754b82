// The batch call against the single-stream path: the corpus streams decoded
// side by side, random streams with losses and faulty frames, and mixed
// batches (any size and order, both rates, lost frames, a decoder more than
// once, failing entries), with every lane kernel this machine runs and
// through the exported mervox_decode_many.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "interface/channel.h"
#include "interface/decode_many.h"
#include "mervox.h"
#include "mervox.hpp"
#include "supported_variants.h"
#include "test_support.h"

namespace mervox {
namespace {

using test::DataPath;
using test::ReadFileBytes;
using test::SplitStream;
using test::StreamFrame;

// A stream as a host feeds it: per frame a pointer (null: lost) and a size.
struct HostStream {
    std::vector<uint8_t> bytes;
    std::vector<long> offset;  // -1: lost
    std::vector<size_t> size;
    const uint8_t* Frame(size_t k) const { return offset[k] < 0 ? nullptr : bytes.data() + offset[k]; }
};

HostStream CorpusStream(const std::string& stem, bool withLoss)
{
    HostStream s;
    s.bytes = ReadFileBytes(DataPath("corpus/" + stem + ".bit"));
    const std::vector<uint8_t> mask =
        withLoss ? ReadFileBytes(DataPath("corpus/" + stem + ".loss")) : std::vector<uint8_t>{};
    const std::vector<StreamFrame> frames = SplitStream(s.bytes);
    for (size_t k = 0; k < frames.size(); ++k) {
        const bool lost = !frames[k].speech || (k < mask.size() && mask[k] != 0);
        s.offset.push_back(lost ? -1 : static_cast<long>(frames[k].offset));
        s.size.push_back(frames[k].length);
    }
    return s;
}

// Random frames: mostly well-formed corpus frames of either rate, some
// random bytes (often faulty: impossible lag or gain codes), some lost.
HostStream RandomStream(size_t frames, std::mt19937& rng)
{
    static const HostStream c63 = CorpusStream("speech-a.63", false);
    static const HostStream c53 = CorpusStream("speech-a.53", false);
    HostStream s;
    std::uniform_int_distribution<int> pick(0, 99);
    for (size_t k = 0; k < frames; ++k) {
        const int p = pick(rng);
        if (p < 15) {
            s.offset.push_back(-1);
            s.size.push_back(0);
            continue;
        }
        std::vector<uint8_t> frame;
        if (p < 30) {
            frame.resize(24);
            for (uint8_t& b : frame)
                b = static_cast<uint8_t>(rng());
            frame[0] &= 0xfd;  // a speech frame of either rate
        } else {
            const HostStream& c = p < 65 ? c63 : c53;
            size_t j = rng() % c.offset.size();
            while (c.offset[j] < 0)
                j = (j + 1) % c.offset.size();
            frame.assign(c.Frame(j), c.Frame(j) + c.size[j]);
        }
        s.offset.push_back(static_cast<long>(s.bytes.size()));
        s.size.push_back(frame.size());
        s.bytes.insert(s.bytes.end(), frame.begin(), frame.end());
    }
    return s;
}

// Decodes the streams side by side, one batch call per frame time (streams
// that have ended drop out), with the given kernel; returns each stream's
// output.
std::vector<std::vector<int16_t>> DecodeSideBySide(const std::vector<HostStream>& streams, LaneVariant variant)
{
    std::vector<mervox_decoder*> all;
    for (size_t k = 0; k < streams.size(); ++k)
        all.push_back(mervox_decoder_create(1, nullptr));
    std::vector<std::vector<int16_t>> out(streams.size());
    size_t longest = 0;
    for (const HostStream& s : streams)
        longest = std::max(longest, s.offset.size());
    for (size_t j = 0; j < longest; ++j) {
        std::vector<mervox_decoder*> decoders;
        std::vector<const uint8_t*> frames;
        std::vector<size_t> sizes, owner;
        for (size_t k = 0; k < streams.size(); ++k) {
            if (j >= streams[k].offset.size())
                continue;
            decoders.push_back(all[k]);
            frames.push_back(streams[k].Frame(j));
            sizes.push_back(streams[k].size[j]);
            owner.push_back(k);
        }
        std::vector<int16_t> pcm(decoders.size() * MERVOX_FRAME_SAMPLES);
        std::vector<int> results(decoders.size());
        EXPECT_EQ(DecodeManyWith(decoders.data(), frames.data(), sizes.data(), pcm.data(), results.data(),
                                 decoders.size(), variant),
                  0);
        for (size_t e = 0; e < decoders.size(); ++e) {
            EXPECT_EQ(results[e], frames[e] ? static_cast<int>(mervox_frame_bytes(frames[e][0]) / 2) : 1);
            out[owner[e]].insert(out[owner[e]].end(), pcm.data() + MERVOX_FRAME_SAMPLES * e,
                                 pcm.data() + MERVOX_FRAME_SAMPLES * (e + 1));
        }
    }
    for (mervox_decoder* d : all)
        mervox_decoder_destroy(d);
    return out;
}

std::vector<int16_t> DecodeAlone(const HostStream& s)
{
    mervox_decoder* d = mervox_decoder_create(1, nullptr);
    std::vector<int16_t> out(s.offset.size() * MERVOX_FRAME_SAMPLES);
    for (size_t j = 0; j < s.offset.size(); ++j) {
        int16_t* pcm = out.data() + MERVOX_FRAME_SAMPLES * j;
        if (s.Frame(j))
            mervox_decode(d, s.Frame(j), s.size[j], pcm);
        else
            mervox_conceal(d, pcm);
    }
    mervox_decoder_destroy(d);
    return out;
}

TEST(DecodeMany, CorpusStreamsSideBySideDecodeAsAlone)
{
    // Every corpus stream, with and without its loss mask, three times
    // over: more streams than one chunk of the batch holds.
    std::vector<HostStream> streams;
    for (int copy = 0; copy < 3; ++copy)
        for (const char* stem : {"speech-a.63", "speech-a.53", "speech-a.mixed"})
            for (bool loss : {false, true})
                streams.push_back(CorpusStream(stem, loss));
    for (const char* stem : {"speech-a.63-vad", "speech-a.53-vad", "speech-a.63-enc2"})
        streams.push_back(CorpusStream(stem, false));
    std::vector<std::vector<int16_t>> alone;
    for (const HostStream& s : streams)
        alone.push_back(DecodeAlone(s));
    // The single-stream path itself is the recorded one.
    EXPECT_EQ(alone[0], test::DecodeWithLegacyApi(streams[0].bytes));

    for (LaneVariant variant : SupportedVariants()) {
        const std::vector<std::vector<int16_t>> together = DecodeSideBySide(streams, variant);
        for (size_t k = 0; k < streams.size(); ++k)
            EXPECT_TRUE(together[k] == alone[k]) << LaneVariantName(variant) << " stream " << k;
    }
}

TEST(DecodeMany, RandomStreamsWithLossesAndFaultyFrames)
{
    std::mt19937 rng(1616);
    std::vector<HostStream> streams;
    for (int k = 0; k < 37; ++k)
        streams.push_back(RandomStream(40 + rng() % 80, rng));
    std::vector<std::vector<int16_t>> alone;
    for (const HostStream& s : streams)
        alone.push_back(DecodeAlone(s));
    for (LaneVariant variant : SupportedVariants()) {
        const std::vector<std::vector<int16_t>> together = DecodeSideBySide(streams, variant);
        for (size_t k = 0; k < streams.size(); ++k)
            EXPECT_TRUE(together[k] == alone[k]) << LaneVariantName(variant) << " stream " << k;
    }
}

// Everything a channel keeps from one frame to the next: all of it but the
// working space (elements 10..249 of the filter memories and the output
// buffer, which the next frame overwrites before reading; the batch writes
// its outputs straight to the caller's) must be equal.
void ExpectSameChannel(Channel a, Channel b, const std::string& what)
{
    for (Channel* c : {&a, &b}) {
        std::memset(c->state.synthesisMemory + kLpcOrder, 0, kFrameLength * sizeof(float));
        std::memset(c->state.postfilterMemory + kLpcOrder, 0, kFrameLength * sizeof(float));
        std::memset(c->outputBuffer, 0, sizeof c->outputBuffer);
    }
    EXPECT_EQ(std::memcmp(&a, &b, sizeof(Channel)), 0) << what;
}

TEST(DecodeMany, DecoderStatesEqualThoseDecodedAlone)
{
    // Below the API: the state of every channel, histories and filter
    // memories included, not only the output.
    std::mt19937 rng(7);
    constexpr size_t kStreams = kMaxChannelBatch;
    std::vector<HostStream> streams;
    for (size_t k = 0; k < kStreams; ++k)
        streams.push_back(RandomStream(30, rng));
    for (LaneVariant variant : SupportedVariants()) {
        std::vector<Channel> alone(kStreams), together(kStreams);
        for (size_t k = 0; k < kStreams; ++k) {
            ResetChannel(alone[k], static_cast<int32_t>(k % 2));
            ResetChannel(together[k], static_cast<int32_t>(k % 2));
        }
        for (size_t j = 0; j < 30; ++j) {
            Channel* channels[kStreams];
            const uint8_t* frames[kStreams];
            int16_t pcm[kStreams][kFrameLength];
            int16_t* outputs[kStreams];
            int16_t words[kStreams];
            for (size_t k = 0; k < kStreams; ++k) {
                channels[k] = &together[k];
                frames[k] = streams[k].Frame(j);
                outputs[k] = pcm[k];
            }
            DecodeChannelFrames(channels, frames, outputs, words, static_cast<int>(kStreams), variant);
            for (size_t k = 0; k < kStreams; ++k) {
                int16_t mine[kFrameLength];
                EXPECT_EQ(DecodeChannelFrame(alone[k], frames[k], mine), words[k]);
                EXPECT_EQ(std::memcmp(mine, pcm[k], sizeof mine), 0) << LaneVariantName(variant) << " " << k;
                ExpectSameChannel(alone[k], together[k],
                                  std::string(LaneVariantName(variant)) + " stream " + std::to_string(k) + " frame " +
                                      std::to_string(j));
            }
        }
    }
}

TEST(DecodeMany, MixedBatchesMatchCallsInTurn)
{
    // Batches of any size drawn from a pool of decoders in any order: a
    // decoder may come more than once, entries may be lost frames, frames
    // too short for their type or lack a decoder. Twin decoders fed the same
    // entries one call at a time must agree on every result and sample, and
    // failing entries leave their output untouched.
    std::mt19937 rng(42);
    const HostStream source = RandomStream(400, rng);
    constexpr size_t kPool = 24;
    for (LaneVariant variant : SupportedVariants()) {
        std::vector<mervox_decoder*> batch(kPool), twin(kPool);
        for (size_t k = 0; k < kPool; ++k) {
            batch[k] = mervox_decoder_create(k % 3 ? 1 : 0, nullptr);
            twin[k] = mervox_decoder_create(k % 3 ? 1 : 0, nullptr);
        }
        size_t next = 0;
        for (int round = 0; round < 60; ++round) {
            const size_t n = rng() % 41;
            std::vector<mervox_decoder*> decoders(n), twins(n);
            std::vector<const uint8_t*> frames(n);
            std::vector<size_t> sizes(n);
            for (size_t e = 0; e < n; ++e) {
                const size_t d = rng() % kPool;
                const bool noDecoder = rng() % 50 == 0;
                decoders[e] = noDecoder ? nullptr : batch[d];
                twins[e] = noDecoder ? nullptr : twin[d];
                frames[e] = source.Frame(next);
                sizes[e] = source.size[next];
                if (frames[e] && rng() % 40 == 0)
                    sizes[e] = rng() % sizes[e];  // short of its type
                next = (next + 1) % source.offset.size();
            }
            std::vector<int16_t> pcm(n * MERVOX_FRAME_SAMPLES, 0x5a5a);
            std::vector<int> results(n, 99);
            const int failed =
                DecodeManyWith(decoders.data(), frames.data(), sizes.data(), pcm.data(), results.data(), n, variant);
            int expectFailed = 0;
            for (size_t e = 0; e < n; ++e) {
                std::vector<int16_t> want(MERVOX_FRAME_SAMPLES, 0x5a5a);
                const int r = frames[e] ? mervox_decode(twins[e], frames[e], sizes[e], want.data())
                                        : mervox_conceal(twins[e], want.data());
                expectFailed += r < 0;
                EXPECT_EQ(results[e], r) << LaneVariantName(variant) << " round " << round << " entry " << e;
                EXPECT_TRUE(std::equal(want.begin(), want.end(), pcm.data() + MERVOX_FRAME_SAMPLES * e))
                    << LaneVariantName(variant) << " round " << round << " entry " << e;
            }
            EXPECT_EQ(failed, expectFailed);
        }
        for (size_t k = 0; k < kPool; ++k) {
            mervox_decoder_destroy(batch[k]);
            mervox_decoder_destroy(twin[k]);
        }
    }
}

TEST(DecodeMany, ThousandStreamsIntoAnUnalignedBuffer)
{
    // 1024 decoders (many chunks, far more state than the caches hold),
    // each on a corpus stream from a frame of its own, three frame times,
    // with every kernel: outputs into one buffer that starts one sample past
    // an aligned address, with guard samples on both sides.
    const std::vector<HostStream> corpus = {CorpusStream("speech-a.63", false), CorpusStream("speech-a.53", true),
                                            CorpusStream("speech-a.mixed", true)};
    constexpr size_t kStreams = 1024;
    constexpr size_t kFrames = 3;
    constexpr int16_t kGuard = 0x7e7e;
    auto frameOf = [&](size_t k, size_t j, size_t& size) {
        const HostStream& s = corpus[k % corpus.size()];
        const size_t at = (k * 7 + j) % s.offset.size();
        size = s.size[at];
        return s.Frame(at);
    };
    std::vector<std::vector<int16_t>> want(kStreams);
    for (size_t k = 0; k < kStreams; ++k) {
        mervox_decoder* d = mervox_decoder_create(1, nullptr);
        for (size_t j = 0; j < kFrames; ++j) {
            size_t size = 0;
            const uint8_t* frame = frameOf(k, j, size);
            std::vector<int16_t> pcm(MERVOX_FRAME_SAMPLES);
            frame ? mervox_decode(d, frame, size, pcm.data()) : mervox_conceal(d, pcm.data());
            want[k].insert(want[k].end(), pcm.begin(), pcm.end());
        }
        mervox_decoder_destroy(d);
    }
    for (LaneVariant variant : SupportedVariants()) {
        std::vector<mervox_decoder*> decoders(kStreams);
        for (mervox_decoder*& d : decoders)
            d = mervox_decoder_create(1, nullptr);
        std::vector<std::vector<int16_t>> got(kStreams);
        std::vector<int16_t> buffer(kStreams * MERVOX_FRAME_SAMPLES + 2, kGuard);
        for (size_t j = 0; j < kFrames; ++j) {
            std::vector<const uint8_t*> frames(kStreams);
            std::vector<size_t> sizes(kStreams);
            for (size_t k = 0; k < kStreams; ++k)
                frames[k] = frameOf(k, j, sizes[k]);
            std::vector<int> results(kStreams);
            EXPECT_EQ(DecodeManyWith(decoders.data(), frames.data(), sizes.data(), buffer.data() + 1, results.data(),
                                     kStreams, variant),
                      0);
            EXPECT_EQ(buffer.front(), kGuard);
            EXPECT_EQ(buffer.back(), kGuard);
            for (size_t k = 0; k < kStreams; ++k) {
                const int16_t* out = buffer.data() + 1 + MERVOX_FRAME_SAMPLES * k;
                got[k].insert(got[k].end(), out, out + MERVOX_FRAME_SAMPLES);
            }
        }
        for (size_t k = 0; k < kStreams; ++k)
            EXPECT_TRUE(got[k] == want[k]) << LaneVariantName(variant) << " stream " << k;
        for (mervox_decoder* d : decoders)
            mervox_decoder_destroy(d);
    }
}

TEST(DecodeMany, ExportedCallAndArguments)
{
    mervox_decoder* a = mervox_decoder_create(1, nullptr);
    mervox_decoder* b = mervox_decoder_create(1, nullptr);
    mervox_decoder* decoders[] = {a, b};
    int16_t pcm[2 * MERVOX_FRAME_SAMPLES];
    int results[2] = {0, 0};
    // No frames at all: both lost.
    EXPECT_EQ(mervox_decode_many(decoders, nullptr, nullptr, pcm, results, 2), 0);
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 1);
    const uint8_t frame[24] = {};
    const uint8_t* frames[] = {frame, nullptr};
    EXPECT_EQ(mervox_decode_many(decoders, frames, nullptr, pcm, results, 2), MERVOX_BAD_ARG);
    const size_t sizes[] = {24, 0};
    EXPECT_EQ(mervox_decode_many(nullptr, frames, sizes, pcm, results, 2), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_decode_many(decoders, frames, sizes, nullptr, results, 2), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_decode_many(decoders, frames, sizes, pcm, nullptr, 2), MERVOX_BAD_ARG);
    EXPECT_EQ(mervox_decode_many(nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(mervox_decode_many(decoders, frames, sizes, pcm, results, 2), 0);
    EXPECT_EQ(results[0], 12);
    EXPECT_EQ(results[1], 1);
    mervox_decoder_destroy(a);
    mervox_decoder_destroy(b);
}

TEST(DecodeMany, CppWrapperOverManyEntries)
{
    // 150 entries (the wrapper passes them on 64 at a time) over 40
    // decoders, each decoder several times, some frames lost: the same as
    // Decode/Conceal in turn on twin decoders.
    std::mt19937 rng(99);
    const HostStream source = RandomStream(150, rng);
    std::vector<Decoder> decoders(40), twins(40);
    std::vector<Decoder*> entries;
    std::vector<FrameView> frames;
    std::vector<Decoder*> twinEntries;
    for (size_t k = 0; k < 150; ++k) {
        const size_t d = rng() % 40;
        entries.push_back(&decoders[d]);
        twinEntries.push_back(&twins[d]);
        frames.push_back(source.Frame(k) ? FrameView(source.Frame(k), source.size[k]) : FrameView());
    }
    std::vector<FramePcm> pcm(150);
    std::vector<int> results(150);
    EXPECT_EQ(DecodeMany(entries.data(), frames.data(), pcm.data(), results.data(), 150), 0);
    for (size_t k = 0; k < 150; ++k) {
        FramePcm want;
        const int r = frames[k].data() ? twinEntries[k]->Decode(frames[k], want) : twinEntries[k]->Conceal(want);
        EXPECT_EQ(results[k], r) << k;
        EXPECT_TRUE(pcm[k] == want) << k;
    }
    EXPECT_EQ(DecodeMany(entries.data(), nullptr, pcm.data(), results.data(), 1), MERVOX_BAD_ARG);
}

}  // namespace
}  // namespace mervox
