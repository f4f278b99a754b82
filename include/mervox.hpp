/// @file mervox.hpp
/// mervox C++ interface: an owning wrapper around ::mervox_decoder.
///
/// @code
/// mervox::Decoder decoder;                    // throws std::bad_alloc only here
/// std::array<int16_t, mervox::kFrameSamples> pcm;
/// decoder.Decode(mervox::FrameView(bytes, n), pcm);   // 12 or 10
/// decoder.Conceal(pcm);                       // a lost frame
/// @endcode
///
/// Everything but construction is noexcept and allocation-free.
#ifndef MERVOX_HPP
#define MERVOX_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "mervox.h"

/// The C++ interface of mervox.
namespace mervox {

/// Samples per 30 ms frame (#MERVOX_FRAME_SAMPLES).
constexpr int kFrameSamples = MERVOX_FRAME_SAMPLES;
/// Output samples per second (#MERVOX_SAMPLE_RATE).
constexpr int kSampleRate = MERVOX_SAMPLE_RATE;

/// The 240 samples of one frame.
using FramePcm = std::array<int16_t, kFrameSamples>;

/// Read-only bytes of one frame: a pointer and a size, built from anything
/// with data() and size() (std::vector, std::array, std::string_view,
/// std::span) or from a pointer and a length. One without data is a lost
/// frame for DecodeMany().
class FrameView {
public:
    /// No frame (a lost one).
    constexpr FrameView() noexcept = default;
    /// The @p size bytes at @p data.
    constexpr FrameView(const uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    /// The bytes of an array.
    template <std::size_t N>
    constexpr FrameView(const uint8_t (&bytes)[N]) noexcept : data_(bytes), size_(N)
    {}
    /// The bytes of a container of bytes: anything with data() and size().
    template <typename Bytes, typename = std::enable_if_t<
                                  sizeof(*std::declval<const Bytes&>().data()) == 1 &&
                                  std::is_convertible_v<decltype(std::declval<const Bytes&>().size()), std::size_t>>>
    FrameView(const Bytes& bytes) noexcept : data_(reinterpret_cast<const uint8_t*>(bytes.data())), size_(bytes.size())
    {}

    /// The first byte, or nullptr for no frame.
    constexpr const uint8_t* data() const noexcept { return data_; }
    /// The readable bytes.
    constexpr std::size_t size() const noexcept { return size_; }
    /// True if there are no bytes.
    constexpr bool empty() const noexcept { return size_ == 0; }

private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

/// One independent decoder (a ::mervox_decoder it owns). Movable, not
/// copyable. One call at a time per decoder.
class Decoder {
public:
    /// A new decoder. @p rateSelector as for INITdec(): 0 assumes 5.3 kbit/s
    /// before the first frame, anything else 6.3 kbit/s.
    /// @throws std::bad_alloc if the decoder cannot be created.
    explicit Decoder(int32_t rateSelector = 1) : decoder_(mervox_decoder_create(rateSelector, nullptr))
    {
        if (!decoder_)
            throw std::bad_alloc();
    }
    ~Decoder() { mervox_decoder_destroy(decoder_); }

    /// Takes the other's decoder; the other is left empty.
    Decoder(Decoder&& other) noexcept : decoder_(std::exchange(other.decoder_, nullptr)) {}
    /// Releases this decoder and takes the other's; the other is left empty.
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

    /// False only for a moved-from decoder (whose calls return #MERVOX_BAD_ARG).
    explicit operator bool() const noexcept { return decoder_ != nullptr; }

    /// Starts a new stream (mervox_decoder_reset()).
    /// @return #MERVOX_OK, or #MERVOX_BAD_ARG for a moved-from decoder.
    int Reset(int32_t rateSelector = 1) noexcept { return mervox_decoder_reset(decoder_, rateSelector); }

    /// Decodes one frame into 240 samples at @p pcm (mervox_decode()).
    /// @return 12 or 10 (16-bit words of the frame), or a negative MERVOX_*
    ///         error (#MERVOX_BAD_ARG for a frame without data: a lost frame
    ///         goes to Conceal()).
    int Decode(FrameView frame, int16_t* pcm) noexcept
    {
        if (!frame.data())
            return MERVOX_BAD_ARG;  // a lost frame goes to Conceal
        return mervox_decode(decoder_, frame.data(), frame.size(), pcm);
    }
    /// Decodes one frame into @p pcm; as the other Decode().
    int Decode(FrameView frame, FramePcm& pcm) noexcept { return Decode(frame, pcm.data()); }

    /// Conceals one lost frame into 240 samples at @p pcm (mervox_conceal()).
    /// @return 1, or #MERVOX_BAD_ARG.
    int Conceal(int16_t* pcm) noexcept { return mervox_conceal(decoder_, pcm); }
    /// Conceals one lost frame into @p pcm; as the other Conceal().
    int Conceal(FramePcm& pcm) noexcept { return Conceal(pcm.data()); }

    /// The C decoder, for the C functions; nullptr if moved from.
    mervox_decoder* get() noexcept { return decoder_; }

private:
    mervox_decoder* decoder_;
};

/// Decodes one frame for each of n decoders at once (mervox_decode_many()):
/// frames[k] with *decoders[k] into pcm[k], a FrameView without data being a
/// lost frame; results[k] receives what Decode() or Conceal() would return.
/// Every output is that of calling Decode()/Conceal() for k = 0, 1, ... in
/// turn; a decoder may come more than once.
/// @return The number of failed entries (0: all decoded) or #MERVOX_BAD_ARG
///         (a null array; nothing decoded).
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

/// "MAJOR.MINOR.PATCH" of the library actually loaded (mervox_version_string()).
inline const char* VersionString() noexcept { return mervox_version_string(); }

}  // namespace mervox

#endif  // MERVOX_HPP
