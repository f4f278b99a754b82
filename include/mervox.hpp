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

inline const char* VersionString() noexcept { return mervox_version_string(); }

}  // namespace mervox

#endif  // MERVOX_HPP
