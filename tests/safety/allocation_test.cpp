// Decoding must not allocate: every heap allocation of the process is
// counted (operator new, and malloc/calloc/realloc wrapped at link time) and
// a decode loop over real and hostile streams must add none.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "hostile_streams.h"
#include "mervox.h"
#include "test_support.h"

namespace {
std::atomic<long> allocations{0};
}

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* p, size_t size);
void* __wrap_malloc(size_t size)
{
    ++allocations;
    return __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size)
{
    ++allocations;
    return __real_calloc(count, size);
}
void* __wrap_realloc(void* p, size_t size)
{
    ++allocations;
    return __real_realloc(p, size);
}
}

void* operator new(size_t size)
{
    ++allocations;
    if (void* p = __real_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    ++allocations;
    return __real_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    ++allocations;
    return __real_malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace mervox::test {
namespace {

// Decodes every frame of `stream` (frames of types 2 and 3 and masked frames
// as lost frames) and returns the allocations made meanwhile.
long AllocationsWhileDecoding(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& mask)
{
    const std::vector<StreamFrame> frames = SplitStream(stream);
    int16_t out[240];
    const long before = allocations.load();
    INITdec(1);
    for (size_t k = 0; k < frames.size(); ++k) {
        const bool lost = !frames[k].speech || (k < mask.size() && mask[k] != 0);
        DecSoundFrame(lost ? nullptr : stream.data() + frames[k].offset, out);
    }
    return allocations.load() - before;
}

TEST(Allocation, CounterSeesBothKindsOfAllocation)
{
    const long before = allocations.load();
    // Through volatile pointers, so that the compiler cannot drop the pairs.
    int* volatile object = new int(1);
    delete object;
    void* volatile block = std::malloc(16);
    std::free(block);
    EXPECT_EQ(allocations.load() - before, 2);
}

TEST(Allocation, NoneWhileDecodingSpeechWithLosses)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.mixed.bit"));
    const std::vector<uint8_t> mask = ReadFileBytes(DataPath("corpus/speech-a.mixed.loss"));
    ASSERT_GT(stream.size(), 0u);
    EXPECT_EQ(AllocationsWhileDecoding(stream, mask), 0);
}

TEST(Allocation, NoneWhileDecodingWithDecoderObjects)
{
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.63-vad.bit"));
    mervox_decoder* a = mervox_decoder_create(1, nullptr);
    mervox_decoder* b = mervox_decoder_create(0, nullptr);
    ASSERT_TRUE(a && b);
    const std::vector<StreamFrame> frames = SplitStream(stream);
    int16_t pcm[240];
    const long before = allocations.load();
    for (const StreamFrame& f : frames) {
        for (mervox_decoder* d : {a, b}) {
            if (f.speech)
                mervox_decode(d, stream.data() + f.offset, f.length, pcm);
            else
                mervox_conceal(d, pcm);
        }
    }
    mervox_decoder_reset(a, 1);
    const long during = allocations.load() - before;
    mervox_decoder_destroy(a);
    mervox_decoder_destroy(b);
    EXPECT_EQ(during, 0);
}

TEST(Allocation, NoneWhileDecodingBatches)
{
    // 40 decoders in one call (more than one chunk of lanes), some frames
    // lost, one decoder twice.
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("corpus/speech-a.mixed.bit"));
    const std::vector<StreamFrame> frames = SplitStream(stream);
    constexpr size_t kDecoders = 40;
    mervox_decoder* decoders[kDecoders];
    for (mervox_decoder*& d : decoders)
        d = mervox_decoder_create(1, nullptr);
    mervox_decoder_destroy(decoders[kDecoders - 1]);
    decoders[kDecoders - 1] = decoders[0];
    const uint8_t* framePointers[kDecoders];
    size_t sizes[kDecoders];
    int16_t pcm[kDecoders * 240];
    int results[kDecoders];
    const long before = allocations.load();
    for (size_t j = 0; j + kDecoders < frames.size(); j += 7) {
        for (size_t k = 0; k < kDecoders; ++k) {
            const StreamFrame& f = frames[j + k];
            framePointers[k] = f.speech && k % 5 != 1 ? stream.data() + f.offset : nullptr;
            sizes[k] = f.length;
        }
        mervox_decode_many(decoders, framePointers, sizes, pcm, results, kDecoders);
    }
    const long during = allocations.load() - before;
    for (size_t k = 0; k + 1 < kDecoders; ++k)
        mervox_decoder_destroy(decoders[k]);
    EXPECT_EQ(during, 0);
}

TEST(Allocation, NoneWhileDecodingSilenceDescriptorsOrOverflowingFrames)
{
    EXPECT_EQ(AllocationsWhileDecoding(ReadFileBytes(DataPath("corpus/speech-a.63-vad.bit")), {}), 0);
    std::vector<uint8_t> runaway;
    const std::vector<uint8_t> frame = RunawayFrame();
    for (int i = 0; i < 60; ++i)
        runaway.insert(runaway.end(), frame.begin(), frame.end());
    EXPECT_EQ(AllocationsWhileDecoding(runaway, {}), 0);
}

}  // namespace
}  // namespace mervox::test
