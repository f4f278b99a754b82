#include "output/pcm_format.h"

#include <algorithm>
#include <cctype>

#include "output/pcm_output.h"

namespace mervox::media::output {
namespace {

std::string Lowercase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

std::optional<PcmFormat> PcmFormatFromPath(const std::string& path)
{
    if (path == "-" || DescriptorOfPath(path))
        return PcmFormat::kWav;
    const std::string lower = Lowercase(path);
    if (EndsWith(lower, ".wav"))
        return PcmFormat::kWav;
    if (EndsWith(lower, ".raw") || EndsWith(lower, ".pcm"))
        return PcmFormat::kRaw;
    return std::nullopt;
}

std::optional<PcmFormat> PcmFormatFromName(const std::string& name)
{
    const std::string lower = Lowercase(name);
    if (lower == "wav")
        return PcmFormat::kWav;
    if (lower == "raw")
        return PcmFormat::kRaw;
    return std::nullopt;
}

uint64_t MaxSamples(PcmFormat format) { return IsWav(format) ? (0xffffffffu - (kWavHeaderBytes - 8)) / 2 : UINT64_MAX; }

std::array<uint8_t, kWavHeaderBytes> WavHeader(int sampleRate, std::optional<uint64_t> dataBytes, int channels)
{
    constexpr uint16_t kBitsPerSample = 16;
    const auto channelCount = static_cast<uint16_t>(channels);
    const auto blockAlign = static_cast<uint16_t>(channelCount * kBitsPerSample / 8);
    const uint32_t data = dataBytes ? static_cast<uint32_t>(*dataBytes) : kWavUnknownSize;
    const uint32_t riff = dataBytes ? static_cast<uint32_t>(*dataBytes + kWavHeaderBytes - 8) : kWavUnknownSize;
    std::array<uint8_t, kWavHeaderBytes> h = {'R', 'I', 'F', 'F', 0, 0, 0,   0,   'W', 'A', 'V', 'E', 'f', 'm', 't',
                                              ' ', 0,   0,   0,   0, 0, 0,   0,   0,   0,   0,   0,   0,   0,   0,
                                              0,   0,   0,   0,   0, 0, 'd', 'a', 't', 'a', 0,   0,   0,   0};
    PutLe32(&h[4], riff);
    PutLe32(&h[16], 16);  // size of the fmt chunk
    PutLe16(&h[20], 1);   // integer PCM
    PutLe16(&h[22], channelCount);
    PutLe32(&h[24], static_cast<uint32_t>(sampleRate));
    PutLe32(&h[28], static_cast<uint32_t>(sampleRate) * blockAlign);
    PutLe16(&h[32], blockAlign);
    PutLe16(&h[34], kBitsPerSample);
    PutLe32(&h[40], data);
    return h;
}

void PackLittleEndian(const int16_t* samples, size_t count, uint8_t* out)
{
    for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(samples[i]);
        out[2 * i] = static_cast<uint8_t>(v);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

}  // namespace mervox::media::output
