// mervox C++ interface: an owning wrapper around mervox_decoder.
//
//   mervox::Decoder decoder;                    // throws std::bad_alloc only here
//   std::array<int16_t, mervox::kFrameSamples> pcm;
//   decoder.Decode(mervox::FrameView(bytes, n), pcm);   // 12 or 10
//   decoder.Conceal(pcm);                       // a lost frame
//
// Everything but construction is noexcept and allocation-free.
#ifndef MERVOX_HPP
#define MERVOX_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "mervox.h"

namespace mervox {

constexpr int kFrameSamples = MERVOX_FRAME_SAMPLES;
constexpr int kSampleRate = MERVOX_SAMPLE_RATE;

using FramePcm = std::array<int16_t, kFrameSamples>;

// Read-only bytes of one frame: a pointer and a size, built from anything
// with data() and size() (std::vector, std::array, std::string_view,
// std::span) or from a pointer and a length.
class FrameView {
public:
    constexpr FrameView() noexcept = default;
    constexpr FrameView(const uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    template <std::size_t N>
    constexpr FrameView(const uint8_t (&bytes)[N]) noexcept : data_(bytes), size_(N)
    {}
    template <typename Bytes, typename = std::enable_if_t<
                                  sizeof(*std::declval<const Bytes&>().data()) == 1 &&
                                  std::is_convertible_v<decltype(std::declval<const Bytes&>().size()), std::size_t>>>
    FrameView(const Bytes& bytes) noexcept : data_(reinterpret_cast<const uint8_t*>(bytes.data())), size_(bytes.size())
    {}

    constexpr const uint8_t* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }

private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// One independent decoder. Movable, not copyable.
class Decoder {
public:
    // rateSelector as for INITdec: 0 assumes 5.3 kbit/s before the first
    // frame, anything else 6.3 kbit/s.
    explicit Decoder(int32_t rateSelector = 1) : decoder_(mervox_decoder_create(rateSelector, nullptr))
    {
        if (!decoder_)
            throw std::bad_alloc();
    }
    ~Decoder() { mervox_decoder_destroy(decoder_); }

    Decoder(Decoder&& other) noexcept : decoder_(std::exchange(other.decoder_, nullptr)) {}
    Decoder& operator=(Decoder&& other) noexcept
    {
        if (this != &other) {
            mervox_decoder_destroy(decoder_);
            decoder_ = std::exchange(other.decoder_, nullptr);
        }
        return *this;
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // False only for a moved-from decoder (whose calls return MERVOX_BAD_ARG).
    explicit operator bool() const noexcept { return decoder_ != nullptr; }

    int Reset(int32_t rateSelector = 1) noexcept { return mervox_decoder_reset(decoder_, rateSelector); }

    // Decodes one frame into 240 samples: 12 or 10 (16-bit words of the
    // frame), or a negative MERVOX_* error.
    int Decode(FrameView frame, int16_t* pcm) noexcept
    {
        if (!frame.data())
            return MERVOX_BAD_ARG;  // a lost frame goes to Conceal
        return mervox_decode(decoder_, frame.data(), frame.size(), pcm);
    }
    int Decode(FrameView frame, FramePcm& pcm) noexcept { return Decode(frame, pcm.data()); }

    // Conceals one lost frame into 240 samples: 1, or MERVOX_BAD_ARG.
    int Conceal(int16_t* pcm) noexcept { return mervox_conceal(decoder_, pcm); }
    int Conceal(FramePcm& pcm) noexcept { return Conceal(pcm.data()); }

    mervox_decoder* get() noexcept { return decoder_; }

private:
    mervox_decoder* decoder_;
};

// Decodes one frame for each of n decoders at once (mervox_decode_many):
// frames[k] with *decoders[k] into pcm[k], a FrameView without data being a
// lost frame; results[k] receives what Decode or Conceal would return.
// Every output is that of calling Decode/Conceal for k = 0, 1, ... in turn,
// a decoder may come more than once. Returns the number of failed entries
// (0: all decoded) or MERVOX_BAD_ARG (a null array; nothing decoded).
inline int DecodeMany(Decoder* const* decoders, const FrameView* frames, FramePcm* pcm, int* results,
                      std::size_t n) noexcept
{
    static_assert(sizeof(FramePcm) == kFrameSamples * sizeof(int16_t), "FramePcm arrays are contiguous samples");
    if (n == 0)
        return 0;
    if (!decoders || !frames || !pcm || !results)
        return MERVOX_BAD_ARG;
    constexpr std::size_t kChunk = 64;  // entries passed on per call, from the stack
    mervox_decoder* handles[kChunk];
    const uint8_t* data[kChunk];
    std::size_t sizes[kChunk];
    int failed = 0;
    for (std::size_t start = 0; start < n; start += kChunk) {
        const std::size_t count = n - start < kChunk ? n - start : kChunk;
        for (std::size_t k = 0; k < count; ++k) {
            handles[k] = decoders[start + k] ? decoders[start + k]->get() : nullptr;
            data[k] = frames[start + k].data();
            sizes[k] = frames[start + k].size();
        }
        const int r = mervox_decode_many(handles, data, sizes, pcm[start].data(), results + start, count);
        if (r < 0)
            return r;
        failed += r;
    }
    return failed;
}

inline const char* VersionString() noexcept { return mervox_version_string(); }

}  // namespace mervox

#endif  // MERVOX_HPP
